/*
** The banner label's painting.
*/
#include "ui/banner_label.h"
#include "ui/main_dialog.h"

LRESULT BannerLabel::WindowProc(UINT message, WPARAM, LPARAM) {
    if (message == WM_PAINT) {
        Paint();
        return 0;
    }
    return Default();
}

void BannerLabel::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    if (!dc) return;
    GetClientRect(Handle(), &client_);
    text_ = Text();
    SetTextColor(dc, textColor_);
    HGDIOBJ previous = bannerFont.Handle() ? SelectObject(dc, bannerFont.Handle()) : nullptr;
    // The background mode stays opaque: the text sits on banner-blue cells,
    // and the rest of the rectangle shows the skin behind it.
    SetBkColor(dc, BANNER_BACK_COLOR);
    DrawTextA(dc, text_.c_str(), static_cast<int>(text_.size()), &client_, DT_CENTER | DT_VCENTER);
    if (previous) SelectObject(dc, previous);
    EndPaint(Handle(), &ps);
}
