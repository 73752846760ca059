/*
** The question dialog's arithmetic (see ask_user_rules.h).
*/
#include "ui/ask_user_rules.h"

AskButtons ButtonsForStyle(uint32_t style) {
    if (style & 0x1) return AskButtons::OkCancel;
    if (style & 0x4) return AskButtons::YesNo;
    return AskButtons::SingleOk;
}

int PictureForStyle(uint32_t style) {
    if ((style & 0x30) == 0x30) return PICTURE_EXCLAMATION;
    if (style & 0x40) return PICTURE_INFORMATION;
    if (style & 0x20) return PICTURE_QUESTION;
    if (style & 0x10) return PICTURE_STOP;
    return PICTURE_EXCLAMATION;
}

int AskResultForCommand(int commandId, AskButtons buttons) {
    switch (commandId) {
    case ASK_ID_YES:
        return ASK_ID_YES;
    case ASK_ID_NO:
        return ASK_ID_NO;
    case ASK_ID_SINGLE_OK:
    case ASK_ID_OK:
        return ASK_ID_OK;
    case ASK_ID_CANCEL:
        return buttons == AskButtons::YesNo ? ASK_ID_NO : ASK_ID_CANCEL;
    default:
        return 0;
    }
}

AskGrowth GrowthForText(size_t textLength) {
    // The text of a question is at most a few hundred bytes; the clamp only
    // keeps an absurd length from overflowing the pixel arithmetic.
    if (textLength > 100000) textLength = 100000;
    AskGrowth growth;
    growth.a = static_cast<int>(textLength / 30) * 10 + 10;
    growth.b = static_cast<int>(growth.a * 1.25); // truncates toward zero
    growth.g = growth.a - growth.b / 4;
    return growth;
}

bool PictureMoves(const AskGrowth& growth) { return growth.a > 30; }

int MessageTextHeight(int height, const AskGrowth& growth, bool largeFonts) {
    return height + growth.g + (largeFonts ? 25 : 0);
}

int ButtonLeft(int left, const AskGrowth& growth) { return left + growth.b / 2; }
