/*
** The log list's rules: emptying at 150 lines until keepLog, the selection
** after an append, and the horizontal extent that follows the widest line.
*/
#include "ui/log_rules.h"

#include <gtest/gtest.h>

TEST(LogRules, EmptiesAtOneHundredFiftyLinesUntilKeepLog) {
    EXPECT_FALSE(LogMustEmpty(0, false));
    EXPECT_FALSE(LogMustEmpty(149, false)); // the 150th line is appended
    EXPECT_TRUE(LogMustEmpty(150, false));  // the 151st empties the list first
    EXPECT_TRUE(LogMustEmpty(400, false));
    EXPECT_FALSE(LogMustEmpty(150, true)); // the statistics keep every line
    EXPECT_FALSE(LogMustEmpty(1000, true));
}

TEST(LogRules, SimulatedListKeepsOnlyTheNewestLineAfterTheLimit) {
    int count = 0;
    auto append = [&](bool keepLog) {
        if (LogMustEmpty(count, keepLog)) count = 0;
        count++;
    };
    for (int i = 0; i < 150; i++)
        append(false);
    EXPECT_EQ(count, 150);
    append(false);
    EXPECT_EQ(count, 1); // emptied, then the only line
    for (int i = 0; i < 149; i++)
        append(false);
    EXPECT_EQ(count, 150);
    for (int i = 0; i < 5; i++)
        append(true);
    EXPECT_EQ(count, 155);
}

TEST(LogRules, NewestLineIsSelectedFromTheThirdLine) {
    // One past the end selects nothing.
    EXPECT_EQ(LogSelectionAfterAppend(1), 1);
    EXPECT_EQ(LogSelectionAfterAppend(2), 2);
    EXPECT_EQ(LogSelectionAfterAppend(3), 2);
    EXPECT_EQ(LogSelectionAfterAppend(150), 149);
}

TEST(LogRules, ExtentFollowsTheWidestLineAboveTheThreshold) {
    EXPECT_EQ(LogHorizontalExtent(0, 560), 0);   // not wider than 560
    EXPECT_EQ(LogHorizontalExtent(0, 561), 420); // 561 * 3 / 4
    EXPECT_EQ(LogHorizontalExtent(0, 800), 600);
    EXPECT_EQ(LogHorizontalExtent(600, 800), 600); // set again, same value
    EXPECT_EQ(LogHorizontalExtent(900, 800), 900); // never shrinks
    EXPECT_EQ(LogHorizontalExtent(800, 800), 800); // only a smaller extent is replaced
    EXPECT_EQ(LogHorizontalExtent(600, 1000), 750);
}
