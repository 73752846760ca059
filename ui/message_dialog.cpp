/*
** The question dialog and AskUser.
*/
#include "ui/message_dialog.h"

#include "engine/ask_user.h"
#include "engine/scan_state.h"
#include "resources/resource_ids.h"
#include "ui/ask_user_rules.h"
#include "ui/main_dialog.h"

namespace {

AskButtons ButtonsOf(const MessageDialog& d) {
    if (d.yesNo) return AskButtons::YesNo;
    if (d.okCancel) return AskButtons::OkCancel;
    return AskButtons::SingleOk;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

} // namespace

MessageDialog::MessageDialog(HWND parent) : Dialog(IDD_MESSAGE, parent) {}

BOOL MessageDialog::OnInitDialog() {
    SubclassDlgItems(Handle(), {{&ok_, IDC_ASK_OK},
                                {&cancel_, IDC_ASK_CANCEL},
                                {&singleOk_, IDC_ASK_SINGLE_OK},
                                {&yes_, IDC_ASK_YES},
                                {&no_, IDC_ASK_NO}});
    BindDlgItems(Handle(), {{&picture_, IDC_ASK_PICTURE}, {&message_, IDC_ASK_TEXT}});

    const AskGrowth growth = GrowthForText(text.size());

    // Grow from the screen origin. From here on a control's screen rectangle
    // is its place relative to the dialog's outer corner, and is applied
    // unchanged as a client position; the constants 25, 30 and 65 belong to
    // that arithmetic.
    RECT outer;
    GetWindowRect(Handle(), &outer);
    MoveWindow(Handle(), 0, 0, Width(outer) + growth.b, Height(outer) + growth.g, TRUE);
    GetWindowRect(Handle(), &outer);
    const int buttonTop = outer.bottom - 65;

    const RECT textRect = message_.ScreenRect();
    MoveWindow(message_.Handle(), textRect.left, textRect.top - 25, Width(textRect) + growth.b,
               MessageTextHeight(Height(textRect), growth, largeFonts != FALSE), TRUE);

    NCExButton* buttons[] = {&singleOk_, &ok_, &cancel_, &yes_, &no_};
    for (NCExButton* button : buttons) {
        RECT r = button->ScreenRect();
        MoveWindow(button->Handle(), ButtonLeft(r.left, growth), buttonTop, Width(r), Height(r),
                   TRUE);
    }

    singleOk_.Show(singleOk != FALSE);
    ok_.Show(okCancel != FALSE);
    cancel_.Show(okCancel != FALSE);
    yes_.Show(yesNo != FALSE);
    no_.Show(yesNo != FALSE);
    for (NCExButton* button : buttons)
        button->Enable(true); // a hidden one still does nothing

    ok_.AttachBitmaps(IDC_ASK_OK, Handle());
    singleOk_.AttachBitmaps(IDC_ASK_SINGLE_OK, Handle());
    cancel_.AttachBitmaps(IDC_ASK_CANCEL, Handle());
    yes_.AttachBitmaps(IDC_ASK_YES, Handle());
    no_.AttachBitmaps(IDC_ASK_NO, Handle());

    if (PictureMoves(growth)) {
        RECT p = picture_.ScreenRect();
        MoveWindow(picture_.Handle(), p.left, textRect.top - 30, Width(p), Height(p), TRUE);
    }

    message_.SetText(text.c_str());
    SetWindowTextA(Handle(), title.empty() ? SCAN_TITLE : title.c_str());
    if (mainDialog && mainDialog->Handle()) CenterOver(mainDialog->Handle());
    return TRUE;
}

void MessageDialog::OnCommand(int id, int code) {
    switch (id) {
    case IDC_ASK_YES:
    case IDC_ASK_NO:
    case IDC_ASK_SINGLE_OK:
        if (code == BN_CLICKED) EndDialog(AskResultForCommand(id, ButtonsOf(*this)));
        break;
    default:
        Dialog::OnCommand(id, code); // IDOK and IDCANCEL: the keyboard's commands too
        break;
    }
}

void MessageDialog::OnOK() { EndDialog(AskResultForCommand(IDOK, ButtonsOf(*this))); }

void MessageDialog::OnCancel() { EndDialog(AskResultForCommand(IDCANCEL, ButtonsOf(*this))); }

bool MessageDialog::OnPaint() {
    PAINTSTRUCT ps;
    BeginPaint(Handle(), &ps);
    HBITMAP picture = static_cast<HBITMAP>(LoadImageA(AppInstance(), MAKEINTRESOURCEA(pictureId),
                                                      IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
    if (picture) {
        HWND area = picture_.Handle();
        HDC dc = area ? GetDC(area) : nullptr;
        if (dc) {
            RECT client;
            GetClientRect(area, &client);
            HDC memory = CreateCompatibleDC(dc);
            if (memory) {
                HGDIOBJ previous = SelectObject(memory, picture);
                // The 42 by 40 picture is cut to the area's size.
                BitBlt(dc, client.left, client.top, Width(client), Height(client), memory, 0, 0,
                       SRCCOPY);
                SelectObject(memory, previous);
                DeleteDC(memory);
            }
            ReleaseDC(area, dc);
        }
        DeleteObject(picture);
    }
    EndPaint(Handle(), &ps);
    return true;
}

HBRUSH MessageDialog::OnCtlColor(HDC dc, HWND control, int type) {
    HBRUSH brush = DefaultCtlColor(dc, control, type);
    SetBkMode(dc, TRANSPARENT);
    if (type == CTLCOLOR_DLG || type == CTLCOLOR_STATIC) {
        if (!brush_.Handle()) brush_.Attach(CreateSolidBrush(MESSAGE_BACK_COLOR));
        if (brush_.Handle()) return brush_.Handle();
    }
    return brush;
}

int AskUser(const char* text, const char* title, UINT style) {
    // One question at a time: one asked while another is open (the walk's
    // Escape question from a message another program posted into the open
    // question's loop) is answered as its Escape key would answer it (No or
    // Cancel), which changes nothing.
    if (Dialog::OpenDialogs() > 1)
        return AskResultForCommand(ASK_ID_CANCEL, ButtonsForStyle(style));
    MessageDialog dialog; // owned by the main window while it exists
    dialog.text = text ? text : "";
    dialog.title = title ? title : "";
    switch (ButtonsForStyle(style)) {
    case AskButtons::OkCancel:
        dialog.okCancel = TRUE;
        break;
    case AskButtons::YesNo:
        dialog.yesNo = TRUE;
        break;
    case AskButtons::SingleOk:
        dialog.singleOk = TRUE;
        break;
    }
    dialog.pictureId = PictureForStyle(style);
    return static_cast<int>(dialog.DoModal());
}
