/*
** The question dialog's rules: buttons and picture by style, results by
** button, and the growth of the dialog with its text.
*/
#include "ui/ask_user_rules.h"

#include <gtest/gtest.h>
#include <tuple>

TEST(AskUserRules, StyleChoosesButtonsAndPictureFirstMatchWins) {
    EXPECT_EQ(ButtonsForStyle(0), AskButtons::SingleOk);           // MB_OK
    EXPECT_EQ(ButtonsForStyle(1), AskButtons::OkCancel);           // MB_OKCANCEL
    EXPECT_EQ(ButtonsForStyle(3), AskButtons::OkCancel);           // MB_YESNOCANCEL: bit 0x1 first
    EXPECT_EQ(ButtonsForStyle(4), AskButtons::YesNo);              // MB_YESNO
    EXPECT_EQ(ButtonsForStyle(5), AskButtons::OkCancel);           // MB_RETRYCANCEL has bit 0x1
    EXPECT_EQ(ButtonsForStyle(2), AskButtons::SingleOk);           // MB_ABORTRETRYIGNORE
    EXPECT_EQ(ButtonsForStyle(36), AskButtons::YesNo);             // the stop and restart questions
    EXPECT_EQ(ButtonsForStyle(65), AskButtons::OkCancel);          // the found-in-memory question
    EXPECT_EQ(ButtonsForStyle(0x40 | 0x30), AskButtons::SingleOk); // icon bits do not matter

    EXPECT_EQ(PictureForStyle(0), 154);    // no icon
    EXPECT_EQ(PictureForStyle(0x30), 154); // MB_ICONEXCLAMATION
    EXPECT_EQ(PictureForStyle(0x40), 152); // MB_ICONINFORMATION
    EXPECT_EQ(PictureForStyle(0x20), 153); // MB_ICONQUESTION
    EXPECT_EQ(PictureForStyle(0x10), 155); // MB_ICONSTOP
    EXPECT_EQ(PictureForStyle(36), 153);
    EXPECT_EQ(PictureForStyle(65), 152);
    EXPECT_EQ(PictureForStyle(0x70), 154); // both 0x30 bits win over 0x40
    EXPECT_EQ(PictureForStyle(0x50), 152); // 0x40 wins over 0x10
}

TEST(AskUserRules, ButtonsReturnMessageBoxCodes) {
    // Command 1 is also the keyboard's OK; 2 also Escape and the close box (No
    // on a Yes/No question, else Cancel); 1086 is not a button.
    using B = AskButtons;
    const std::tuple<int, AskButtons, int> rows[] = {
        {6, B::YesNo, 6},    {7, B::YesNo, 7},    {3, B::SingleOk, 1},
        {1, B::OkCancel, 1}, {1, B::YesNo, 1},    {2, B::YesNo, 7},
        {2, B::OkCancel, 2}, {2, B::SingleOk, 2}, {1086, B::YesNo, 0}};
    for (const auto& [command, buttons, result] : rows)
        EXPECT_EQ(AskResultForCommand(command, buttons), result) << command;
}

TEST(AskUserRules, DialogGrowsWithTheText) {
    // "Terminate the Scan now?" is 23 bytes: grows 12 by 7, picture stays;
    // 89 bytes is the longest text that leaves the picture where it is.
    // {length, a, b, g, picture moves, a button at 63 moves to}
    const std::tuple<size_t, int, int, int, bool, int> rows[] = {
        {0, 10, 12, 7, false, 69},   {23, 10, 12, 7, false, 69},  {29, 10, 12, 7, false, 69},
        {30, 20, 25, 14, false, 75}, {89, 30, 37, 21, false, 81}, {90, 40, 50, 28, true, 88},
        {95, 40, 50, 28, true, 88}};
    for (const auto& [length, a, b, g, moves, left] : rows) {
        const AskGrowth growth = GrowthForText(length);
        EXPECT_EQ(std::tuple(growth.a, growth.b, growth.g), std::tuple(a, b, g)) << length;
        EXPECT_EQ(PictureMoves(growth), moves) << length;
        EXPECT_EQ(ButtonLeft(63, growth), left) << length;
    }
    // Large fonts make the text taller.
    EXPECT_EQ(MessageTextHeight(31, GrowthForText(23), false), 38);
    EXPECT_EQ(MessageTextHeight(31, GrowthForText(23), true), 63);
}
