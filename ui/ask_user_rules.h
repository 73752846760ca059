/*
** The question dialog's arithmetic, kept free of Windows headers so that the
** host tests can pin it: which buttons and which picture a message-box style
** asks for, what each button returns, and how far the dialog grows with the
** length of its text.
*/
#ifndef CLEANPHANTAXIS_ASK_USER_RULES_H
#define CLEANPHANTAXIS_ASK_USER_RULES_H

#include <stddef.h>
#include <stdint.h>

/* Button and result codes, the values of the message-box API. */
enum AskButtonId : int {
    ASK_ID_OK = 1,     // OK of the OK/Cancel pair, also the keyboard's OK command
    ASK_ID_CANCEL = 2, // Cancel of the pair, also Escape and the close box
    ASK_ID_SINGLE_OK = 3,
    ASK_ID_YES = 6,
    ASK_ID_NO = 7,
};

/* Picture bitmaps of the question dialog. */
enum AskPicture : int {
    PICTURE_INFORMATION = 152,
    PICTURE_QUESTION = 153,
    PICTURE_EXCLAMATION = 154, // also the picture of a style without an icon
    PICTURE_STOP = 155,
};

enum class AskButtons { SingleOk, OkCancel, YesNo };

/* First match wins: bit 0x1 OK/Cancel, else bit 0x4 Yes/No, else one OK. */
AskButtons ButtonsForStyle(uint32_t style);

/* First match wins: both 0x30 bits 154, 0x40 152, 0x20 153, 0x10 155, else 154. */
int PictureForStyle(uint32_t style);

/* The dialog's result for a command from one of its buttons (or the keyboard's
   OK and Cancel commands). Cancel answers No on a Yes/No question. Returns 0
   for an id that is not one of the dialog's buttons. */
int AskResultForCommand(int commandId, AskButtons buttons);

/* How far the dialog grows with a text of `textLength` bytes:
   a = (L / 30) * 10 + 10, b = trunc(a * 1.25), g = a - b / 4. */
struct AskGrowth {
    int a; // steps of ten per started 30 bytes
    int b; // extra width in pixels
    int g; // extra height in pixels
};
AskGrowth GrowthForText(size_t textLength);

/* Texts of 90 bytes or more (a > 30) lift the picture to the text's top. */
bool PictureMoves(const AskGrowth& growth);

/* Height of the message text control after growing: its height + g, and 25
   pixels more on a large-font screen. */
int MessageTextHeight(int height, const AskGrowth& growth, bool largeFonts);

/* Left edge of a button after growing: its left + b / 2. */
int ButtonLeft(int left, const AskGrowth& growth);

#endif
