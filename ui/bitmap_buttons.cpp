/*
** Bitmap buttons: loading the pictures, drawing, hover and focus, and the
** main window's hand cursor.
*/
#include "ui/bitmap_buttons.h"

#include <stdio.h>
#include <string>

namespace {

HBITMAP LoadNamedBitmap(const std::string& name) {
    return static_cast<HBITMAP>(
        LoadImageA(AppInstance(), name.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
}

void InvalidateFace(HWND button) { InvalidateRect(button, nullptr, FALSE); }

} // namespace

void ButtonFace::DeleteBitmaps() {
    focus_.Delete();
    notFocus_.Delete();
    disabled_.Delete();
}

bool ButtonFace::Attach(HWND button) {
    char caption[128] = "";
    GetWindowTextA(button, caption, sizeof caption);
    if (!caption[0]) return false; // no caption, no pictures

    DeleteBitmaps();
    std::string name(caption);
    focus_.Attach(LoadNamedBitmap(name + "_FOCUS"));
    if (!focus_.Handle()) return false;
    notFocus_.Attach(LoadNamedBitmap(name + "_NOTFOCUS"));
    if (!notFocus_.Handle()) return false;
    disabled_.Attach(LoadNamedBitmap(name + "_DISABLE")); // optional

    BITMAP info;
    if (!GetObjectA(notFocus_.Handle(), sizeof info, &info)) return false;
    if (!SetWindowPos(button, nullptr, 0, 0, info.bmWidth, info.bmHeight,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE))
        return false;
    SetRect(&hoverRect_, 0, 0, info.bmWidth, info.bmHeight);
    return true;
}

void ButtonFace::Draw(const DRAWITEMSTRUCT* item) const {
    HBITMAP picture;
    if (hoverFlag_)
        picture = focus_.Handle(); // also on a disabled button
    else if (item->itemState & ODS_DISABLED)
        picture = disabled_.Handle();
    else
        picture = notFocus_.Handle();
    if (!picture) return;

    HDC memory = CreateCompatibleDC(item->hDC);
    if (!memory) return;
    HGDIOBJ previous = SelectObject(memory, picture);
    const RECT& r = item->rcItem;
    BitBlt(item->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void ButtonFace::MouseMove(HWND button, int x, int y) {
    if (GetCapture() != button) {
        // The first move over the button: it takes the focus and the mouse.
        SetFocus(button);
        hoverFlag_ = TRUE;
        SetCapture(button);
        InvalidateFace(button);
        return;
    }
    POINT p = {x, y};
    if (!PtInRect(&hoverRect_, p) && GetCapture() == button) {
        ReleaseCapture();
        hoverFlag_ = FALSE;
        InvalidateFace(button);
    }
}

void ButtonFace::FocusChanged(HWND button, bool gained) {
    hoverFlag_ = gained ? TRUE : FALSE;
    InvalidateFace(button);
}

// ---- FaceButton ----

bool FaceButton::DrawItem(const DRAWITEMSTRUCT* item) {
    face_.Draw(item);
    return true;
}

/* Hover and focus follow the mouse before the default handling, and the
   focus state after it. */
LRESULT FaceButton::WindowProc(UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_MOUSEMOVE:
        face_.MouseMove(Handle(), static_cast<short>(LOWORD(lParam)),
                        static_cast<short>(HIWORD(lParam)));
        return Default();
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
        const LRESULT result = Default();
        face_.FocusChanged(Handle(), message == WM_SETFOCUS);
        return result;
    }
    default:
        return Default();
    }
}

// ---- CExButton ----

CExButton::~CExButton() {
    if (handCursor_) DestroyCursor(handCursor_);
}

void CExButton::LoadHandCursor() {
    if (handCursor_) return;
    char path[MAX_PATH] = "";
    UINT length = GetWindowsDirectoryA(path, sizeof path);
    static const char kHelpProgram[] = "\\winhlp32.exe";
    // A Windows folder too long for the program's name leaves the arrow.
    if (length == 0 || length + sizeof kHelpProgram > sizeof path) return;
    memcpy(path + length, kHelpProgram, sizeof kHelpProgram);
    HMODULE help = LoadLibraryA(path);
    if (!help) return;
    HCURSOR cursor = LoadCursorA(help, MAKEINTRESOURCEA(106));
    if (cursor) handCursor_ = CopyIcon(cursor);
    FreeLibrary(help);
}

LRESULT CExButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR && handCursor_) {
        SetCursor(handCursor_);
        return TRUE;
    }
    return FaceButton::WindowProc(message, wParam, lParam);
}
