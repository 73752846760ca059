/*
** The log list's rules: emptying at 150 lines until keepLog, the selection
** after an append, and the horizontal extent that follows the widest line.
*/
#include "ui/log_rules.h"

#include <gtest/gtest.h>
#include <tuple>

TEST(LogRules, EmptiesAtOneHundredFiftyLinesUntilKeepLog) {
    EXPECT_FALSE(LogMustEmpty(0, false));
    EXPECT_FALSE(LogMustEmpty(149, false)); // the 150th line is appended
    EXPECT_TRUE(LogMustEmpty(150, false));  // the 151st empties the list first
    EXPECT_TRUE(LogMustEmpty(400, false));
    EXPECT_FALSE(LogMustEmpty(150, true)); // the statistics keep every line
    EXPECT_FALSE(LogMustEmpty(1000, true));

    // A simulated list keeps only the newest line after the limit.
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
    // {extent, widest line, extent after}: a line that fits (just) needs no
    // scrolling; a deep path's line gets the whole line and the margin; the
    // same line again keeps it, a wider one widens it, it never shrinks.
    const int client = 450, m = LOG_EXTENT_MARGIN;
    const std::tuple<int, int, int> rows[] = {
        {0, 300, 0},       {0, client - m, 0}, {0, client - m + 1, client + 1},
        {0, 883, 883 + m}, {891, 883, 891},    {891, 1000, 1008},
        {1008, 600, 1008}, {2000, 100, 2000},  {0, 65535, 65535 + m}};
    for (const auto& [extent, widest, after] : rows)
        EXPECT_EQ(LogHorizontalExtent(extent, widest, client), after) << extent << " " << widest;
}
