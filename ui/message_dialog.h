/*
** The question dialog that replaces the platform's message box: the program's
** own pictures and bitmap buttons on a light-blue dialog, the same arguments
** and the same result codes. AskUser (engine/ask_user.h) runs it.
*/
#ifndef CLEANPHANTAXIS_MESSAGE_DIALOG_H
#define CLEANPHANTAXIS_MESSAGE_DIALOG_H

#include "ui/bitmap_buttons.h"
#include "ui/framework.h"

#include <string>

/* Background of the question dialog and its labels (red 207, green 233, blue 254). */
#define MESSAGE_BACK_COLOR 0xFEE9CFu

class MessageDialog : public Dialog {
  public:
    explicit MessageDialog(HWND parent = nullptr);

    int pictureId = 154;
    BOOL singleOk = FALSE;
    BOOL okCancel = FALSE;
    BOOL yesNo = FALSE;
    std::string text;
    std::string title;

  protected:
    BOOL OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnOK() override;
    void OnCancel() override;
    bool OnPaint() override;
    HBRUSH OnCtlColor(HDC dc, HWND control, int type) override;

  private:
    NCExButton ok_, cancel_, singleOk_, yes_, no_;
    Control picture_, message_;
    GdiObject<HBRUSH> brush_;
};

#endif
