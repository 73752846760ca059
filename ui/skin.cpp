/*
** The window skin: region from the skin bitmap, and child window scaling.
** The pixel arithmetic lives in skin_rules.cpp.
*/
#include "ui/skin.h"
#include "ui/skin_rules.h"

HRGN RegionFromBitmap(HBITMAP bitmap, COLORREF keyColor) {
    if (!bitmap) return nullptr;
    HDC sectionDc = CreateCompatibleDC(nullptr);
    if (!sectionDc) return nullptr;

    BITMAP source;
    if (!GetObjectA(bitmap, sizeof source, &source) || source.bmWidth <= 0 ||
        source.bmHeight <= 0) {
        DeleteDC(sectionDc);
        return nullptr;
    }
    const int width = source.bmWidth, height = source.bmHeight;

    // A 32-bit bottom-up section: every pixel as blue, green, red, reserved.
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(sectionDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section || !bits) {
        if (section) DeleteObject(section);
        DeleteDC(sectionDc);
        return nullptr;
    }
    HGDIOBJ previousSection = SelectObject(sectionDc, section);

    HRGN result = nullptr;
    HDC sourceDc = CreateCompatibleDC(sectionDc);
    if (sourceDc) {
        BITMAP layout;
        GetObjectA(section, sizeof layout, &layout);
        const int stride = (layout.bmWidthBytes + 3) & ~3;

        HGDIOBJ previousSource = SelectObject(sourceDc, bitmap);
        BitBlt(sectionDc, 0, 0, width, height, sourceDc, 0, 0, SRCCOPY);
        GdiFlush(); // the copy must have reached the section's bits
        SelectObject(sourceDc, previousSource);

        const size_t size = static_cast<size_t>(stride) * static_cast<size_t>(height);
        CollectOpaqueRuns(static_cast<const uint8_t*>(bits), size, width, height, stride, keyColor,
                          [&result](const RegionBlock& block) {
                              HRGN part =
                                  ExtCreateRegion(nullptr, static_cast<DWORD>(block.Size()),
                                                  reinterpret_cast<const RGNDATA*>(block.Data()));
                              if (!part) return;
                              if (!result) {
                                  result = part;
                              } else {
                                  CombineRgn(result, result, part, RGN_OR);
                                  DeleteObject(part);
                              }
                          });
        DeleteDC(sourceDc);
    }
    SelectObject(sectionDc, previousSection);
    DeleteObject(section);
    DeleteDC(sectionDc);
    return result;
}

namespace {

struct ScaleJob {
    double fx, fy;
};

BOOL CALLBACK ScaleOne(HWND child, LPARAM param) {
    const ScaleJob* job = reinterpret_cast<const ScaleJob*>(param);
    RECT r;
    if (!GetWindowRect(child, &r)) return TRUE;
    int left = ScaleCoordinate(r.left, job->fx);
    int right = ScaleCoordinate(r.right, job->fx);
    int top = ScaleCoordinate(r.top, job->fy);
    int bottom = ScaleCoordinate(r.bottom, job->fy);
    POINT corner = {left, top};
    ScreenToClient(GetParent(child), &corner);
    MoveWindow(child, corner.x, corner.y, right - left, bottom - top, TRUE);
    return TRUE;
}

} // namespace

void ScaleChildWindows(HWND window, int designWidth, int designHeight) {
    RECT client;
    if (!GetClientRect(window, &client)) return;
    ScaleJob job = {ScaleFactor(client.right - client.left, designWidth),
                    ScaleFactor(client.bottom - client.top, designHeight)};
    // An empty client area or design size gives no ratio: leave the children.
    if (!(job.fx > 0.0) || !(job.fy > 0.0)) return;
    EnumChildWindows(window, &ScaleOne, reinterpret_cast<LPARAM>(&job));
}
