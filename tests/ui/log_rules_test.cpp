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

TEST(LogRules, ExtentLetsTheWidestLineBeReadToItsEnd) {
    const int client = 450;
    EXPECT_EQ(LogHorizontalExtent(0, 300, client), 0);                        // fits: no scrolling
    EXPECT_EQ(LogHorizontalExtent(0, client - LOG_EXTENT_MARGIN, client), 0); // just fits
    EXPECT_EQ(LogHorizontalExtent(0, client - LOG_EXTENT_MARGIN + 1, client), client + 1);
    // A deep path's line: the whole line and the margin, never less than the line.
    EXPECT_EQ(LogHorizontalExtent(0, 883, client), 883 + LOG_EXTENT_MARGIN);
    EXPECT_EQ(LogHorizontalExtent(891, 883, client), 891);   // the same line again
    EXPECT_EQ(LogHorizontalExtent(891, 1000, client), 1008); // a wider one widens it
    EXPECT_EQ(LogHorizontalExtent(1008, 600, client), 1008); // never shrinks
    EXPECT_EQ(LogHorizontalExtent(2000, 100, client), 2000);
    EXPECT_EQ(LogHorizontalExtent(0, 65535, client), 65535 + LOG_EXTENT_MARGIN);
}
