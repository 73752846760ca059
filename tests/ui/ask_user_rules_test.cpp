/*
** The question dialog's rules: buttons and picture by style, results by
** button, and the growth of the dialog with its text.
*/
#include "ui/ask_user_rules.h"

#include <gtest/gtest.h>
#include <string>

TEST(AskUserRules, StyleChoosesButtonsFirstMatchWins) {
    EXPECT_EQ(ButtonsForStyle(0), AskButtons::SingleOk);           // MB_OK
    EXPECT_EQ(ButtonsForStyle(1), AskButtons::OkCancel);           // MB_OKCANCEL
    EXPECT_EQ(ButtonsForStyle(3), AskButtons::OkCancel);           // MB_YESNOCANCEL: bit 0x1 first
    EXPECT_EQ(ButtonsForStyle(4), AskButtons::YesNo);              // MB_YESNO
    EXPECT_EQ(ButtonsForStyle(5), AskButtons::OkCancel);           // MB_RETRYCANCEL has bit 0x1
    EXPECT_EQ(ButtonsForStyle(2), AskButtons::SingleOk);           // MB_ABORTRETRYIGNORE
    EXPECT_EQ(ButtonsForStyle(36), AskButtons::YesNo);             // the stop and restart questions
    EXPECT_EQ(ButtonsForStyle(65), AskButtons::OkCancel);          // the found-in-memory question
    EXPECT_EQ(ButtonsForStyle(0x40 | 0x30), AskButtons::SingleOk); // icon bits do not matter
}

TEST(AskUserRules, StyleChoosesPictureFirstMatchWins) {
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
    EXPECT_EQ(AskResultForCommand(6, AskButtons::YesNo), 6);
    EXPECT_EQ(AskResultForCommand(7, AskButtons::YesNo), 7);
    EXPECT_EQ(AskResultForCommand(3, AskButtons::SingleOk), 1);
    EXPECT_EQ(AskResultForCommand(1, AskButtons::OkCancel), 1);
    EXPECT_EQ(AskResultForCommand(1, AskButtons::YesNo), 1); // the keyboard's OK command
    // Cancel, Escape and the close box: No on a Yes/No question, else Cancel.
    EXPECT_EQ(AskResultForCommand(2, AskButtons::YesNo), 7);
    EXPECT_EQ(AskResultForCommand(2, AskButtons::OkCancel), 2);
    EXPECT_EQ(AskResultForCommand(2, AskButtons::SingleOk), 2);
    EXPECT_EQ(AskResultForCommand(1086, AskButtons::YesNo), 0); // not a button
}

TEST(AskUserRules, DialogGrowsWithTheText) {
    // "Terminate the Scan now?" is 23 bytes: grows 12 by 7, picture stays.
    AskGrowth stop = GrowthForText(std::string("Terminate the Scan now?").size());
    EXPECT_EQ(stop.a, 10);
    EXPECT_EQ(stop.b, 12);
    EXPECT_EQ(stop.g, 7);
    EXPECT_FALSE(PictureMoves(stop));
    EXPECT_EQ(ButtonLeft(63, stop), 69);

    AskGrowth long95 = GrowthForText(95);
    EXPECT_EQ(long95.a, 40);
    EXPECT_EQ(long95.b, 50);
    EXPECT_EQ(long95.g, 28);
    EXPECT_TRUE(PictureMoves(long95));
    EXPECT_EQ(ButtonLeft(24, long95), 49);

    // 89 bytes is the longest text that leaves the picture where it is.
    EXPECT_FALSE(PictureMoves(GrowthForText(89)));
    EXPECT_TRUE(PictureMoves(GrowthForText(90)));
    EXPECT_EQ(GrowthForText(0).a, 10);
    EXPECT_EQ(GrowthForText(29).a, 10);
    EXPECT_EQ(GrowthForText(30).a, 20);
    AskGrowth g30 = GrowthForText(30); // a 20, b 25, g 20 - 6 = 14
    EXPECT_EQ(g30.b, 25);
    EXPECT_EQ(g30.g, 14);
    EXPECT_EQ(ButtonLeft(24, g30), 36);
}

TEST(AskUserRules, LargeFontsMakeTheTextTaller) {
    AskGrowth stop = GrowthForText(23);
    EXPECT_EQ(MessageTextHeight(31, stop, false), 38);
    EXPECT_EQ(MessageTextHeight(31, stop, true), 63);
}
