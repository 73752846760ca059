/*
** The main window: set-up, the idle, scanning and finished layouts, the
** engine's notifications and the log list.
*/
#include "ui/main_dialog.h"

#include "engine/ask_user.h"
#include "engine/scan_run.h"
#include "engine/scan_state.h"
#include "resources/resource_ids.h"
#include "ui/log_rules.h"
#include "ui/maker_page.h"
#include "ui/skin.h"
#include "ui/skin_rules.h"

#include <shellapi.h>
#include <stdio.h>
#include <vector>

MainDialog* mainDialog = nullptr;
BOOL largeFonts = FALSE;
Font bannerFont;
HBRUSH whiteBrush = nullptr;

namespace {

const char kFamily[] = "W32/Phantaxis";
const char kStopQuestion[] = "Terminate the Scan now?";
const char kCloseBoxTitle[] = "DialogBoxTitle";
const char kProductLine[] = "This program is a part of Sentravix antivirus software.";

} // namespace

void MakeBoldDialogFont(Font& font, int height, int weight, bool underline, bool italic) {
    HFONT base = nullptr;
    if (mainDialog && mainDialog->Handle())
        base = reinterpret_cast<HFONT>(mainDialog->Send<WM_GETFONT>());
    if (!base) base = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    LOGFONTA description;
    ZeroMemory(&description, sizeof description);
    if (!GetObjectA(base, sizeof description, &description)) return;
    description.lfHeight = height;
    description.lfWeight = weight;
    description.lfUnderline = underline ? TRUE : FALSE;
    description.lfItalic = italic ? TRUE : FALSE;
    font.Attach(CreateFontIndirectA(&description));
}

bool IsProductInstalled() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PRODUCT_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    bool present =
        RegQueryValueExA(key, PRODUCT_VALUE, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    if (present) {
        // The data goes into a 300-byte buffer whatever the value's size; a
        // longer value answers ERROR_MORE_DATA and still counts as present.
        BYTE data[300];
        ZeroMemory(data, sizeof data);
        DWORD length = sizeof data;
        LONG read = RegQueryValueExA(key, PRODUCT_VALUE, nullptr, nullptr, data, &length);
        present = read == ERROR_SUCCESS || read == ERROR_MORE_DATA;
    }
    bool closed = RegCloseKey(key) == ERROR_SUCCESS;
    return present && closed;
}

MainDialog::MainDialog() : Dialog(IDD_MAIN) {
    icon_ = LoadIconA(AppInstance(), MAKEINTRESOURCEA(IDI_PROGRAM));
}

MainDialog::~MainDialog() {
    if (mainDialog == this) mainDialog = nullptr;
    // The skin leaves its device context before the bitmap goes with its member.
    if (skinDc_) {
        SelectObject(skinDc_, skinPrevious_);
        DeleteDC(skinDc_);
    }
}

void MainDialog::BindControls() {
    SubclassDlgItems(Handle(), {{&ok_, IDC_MAIN_OK},
                                {&cancel_, IDC_MAIN_CANCEL},
                                {&scan_, IDC_SCAN},
                                {&download_, IDC_DOWNLOAD},
                                {&closeBox_, IDC_CLOSE_BOX},
                                {&downloadLink_, IDC_DOWNLOAD_LINK},
                                {&utilityLink_, IDC_UTILITY_LINK},
                                {&logo_, IDC_MAKER_LOGO},
                                {&banner_, IDC_BANNER}});
    BindDlgItems(Handle(), {{&statusGroup_, IDC_STATUS_GROUP},
                            {&statusLine_, IDC_STATUS_LINE},
                            {&heading_, IDC_HEADING},
                            {&productLine_, IDC_PRODUCT_LINE},
                            {&noticeLine_, IDC_NOTICE_LINE},
                            {&titleLine_, IDC_TITLE_LINE},
                            {&logGroup_, IDC_LOG_GROUP},
                            {&logList_, IDC_LOG_LIST}});
}

BOOL MainDialog::OnInitDialog() {
    BindControls();

    // Idle layout, first half.
    statusLine_.Show(false);
    statusGroup_.Show(false);
    heading_.Show(false);
    logList_.Show(false);
    logGroup_.Show(false);
    cancel_.Show(false);
    ok_.Enable(false);
    ok_.Show(false);
    // What the idle layout offers: the record that the window's commands act
    // by (Dialog::Route), whatever another program shows or enables.
    for (Window* offered : std::initializer_list<Window*>{&scan_, &download_, &closeBox_,
                                                          &downloadLink_, &utilityLink_, &logo_}) {
        offered->Show(true);
        offered->Enable(true);
    }

    mainDialog = this;
    MakeBoldDialogFont(bannerFont, 15, 700, false, false);

    char text[300];
    snprintf(text, sizeof text, "%s - Tool to detect and remove all the variants of %s Backdoor",
             SCAN_TITLE, kFamily);
    titleLine_.SetText(text);
    snprintf(text, sizeof text, "for %s", kFamily);
    std::string banner = std::string(text) + " Backdoor";
    banner_.SetText(banner.c_str());
    noticeLine_.SetText(NOTICE_LINE);
    productLine_.SetText(kProductLine);

    HDC screen = GetDC(Handle());
    if (screen) {
        largeFonts = GetDeviceCaps(screen, LOGPIXELSX) >= 120;
        ReleaseDC(Handle(), screen);
    }

    // Still at the screen origin: the children's screen rectangles are their
    // places relative to the window's corner.
    ScaleChildWindows(Handle(), DESIGN_WIDTH, DESIGN_HEIGHT);
    MoveWindow(Handle(), 0, 0, WINDOW_WIDTH, WINDOW_HEIGHT, TRUE);

    if (IsProductInstalled()) {
        downloadLink_.Enable(false);
        downloadLink_.Show(false);
        download_.Enable(false); // stays visible with its disabled picture
    } else {
        productLine_.Show(false);
    }

    if (!whiteBrush) whiteBrush = CreateSolidBrush(0xFFFFFF);

    Send<WM_SETICON>(ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    Send<WM_SETICON>(ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    LONG_PTR style = GetWindowLongPtrA(Handle(), GWL_STYLE);
    SetWindowLongPtrA(Handle(), GWL_STYLE, style | WS_SYSMENU | WS_MINIMIZEBOX);

    SetUpSkin();

    ok_.AttachBitmaps(IDC_MAIN_OK, Handle());
    cancel_.AttachBitmaps(IDC_MAIN_CANCEL, Handle());
    scan_.AttachBitmaps(IDC_SCAN, Handle());
    download_.AttachBitmaps(IDC_DOWNLOAD, Handle());
    closeBox_.AttachBitmaps(IDC_CLOSE_BOX, Handle());
    utilityLink_.AttachBitmaps(IDC_UTILITY_LINK, Handle());
    downloadLink_.AttachBitmaps(IDC_DOWNLOAD_LINK, Handle());
    logo_.AttachBitmaps(IDC_MAKER_LOGO, Handle());

    SetWindowTextA(Handle(), SCAN_TITLE);

    scan_.LoadHandCursor();
    closeBox_.LoadHandCursor();
    download_.LoadHandCursor();
    ok_.LoadHandCursor();
    cancel_.LoadHandCursor();
    downloadLink_.LoadHandCursor();
    utilityLink_.LoadHandCursor();
    return TRUE;
}

void MainDialog::SetUpSkin() {
    skinBitmap_.Attach(static_cast<HBITMAP>(LoadImageA(AppInstance(), MAKEINTRESOURCEA(IDB_SKIN),
                                                       IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS)));
    const HBITMAP skin = skinBitmap_.Handle();
    if (!skin) return; // a rectangular window without skin
    region_ = RegionFromBitmap(skin, SKIN_KEY_COLOR);
    if (region_) {
        // The skin is painted at the client area's origin, which the thin
        // border puts one pixel inside the window's corner. The region takes
        // the same origin, so that no key-colour pixel is ever shown.
        RECT window;
        POINT client = {0, 0};
        GetWindowRect(Handle(), &window);
        ClientToScreen(Handle(), &client);
        OffsetRgn(region_, client.x - window.left, client.y - window.top);
    }
    if (region_ && !SetWindowRgn(Handle(), region_, TRUE)) {
        DeleteObject(region_);
        region_ = nullptr;
    }
    BITMAP info;
    if (GetObjectA(skin, sizeof info, &info)) {
        skinWidth_ = info.bmWidth;
        skinHeight_ = info.bmHeight;
    }
    skinDc_ = CreateCompatibleDC(nullptr);
    if (skinDc_) skinPrevious_ = SelectObject(skinDc_, skin);
}

bool MainDialog::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    if (dc && skinDc_) BitBlt(dc, 0, 0, skinWidth_, skinHeight_, skinDc_, 0, 0, SRCCOPY);
    EndPaint(Handle(), &ps);
    return true;
}

void MainDialog::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    switch (id) {
    case IDC_SCAN:
        StartScan();
        break;
    case IDCANCEL:
        OnCancel();
        break;
    case IDC_CLOSE_BOX:
        ConfirmStop(kCloseBoxTitle);
        break;
    case IDC_MAIN_OK:
        // Only in the finished layout: while a stopped run unwinds, OK shows
        // but the run's statistics and questions are still to come.
        if (!g_scan.scanning) EndDialog(IDOK);
        break;
    case IDOK: // the Enter key: no control carries this id
        break;
    case IDC_DOWNLOAD:
    case IDC_DOWNLOAD_LINK:
        OpenMakerPage(MakerPage::Download);
        break;
    case IDC_UTILITY_LINK:
        OpenMakerPage(MakerPage::Utility);
        break;
    case IDC_MAKER_LOGO:
        break;
    default:
        Dialog::OnCommand(id, code);
        break;
    }
}

void MainDialog::OnCancel() { ConfirmStop(SCAN_TITLE); }

bool MainDialog::OnClose() {
    ConfirmStop(SCAN_TITLE);
    return true;
}

void MainDialog::StartScan() {
    // One scan per program run: SCAN is disabled from here on, and a click
    // that was already queued must not start a second run.
    if (scanStarted_ || g_scan.scanning) return;
    scanStarted_ = true;
    g_scan.scanning = 1;

    scan_.Enable(false);
    utilityLink_.Enable(false);
    utilityLink_.Show(false);
    downloadLink_.Enable(false);
    downloadLink_.Show(false);

    cancel_.Enable(true);
    cancel_.Show(true);
    ok_.Enable(true);

    titleLine_.Show(false);
    productLine_.Show(false);
    noticeLine_.Show(false);

    heading_.Show(true);
    logList_.Show(true);
    statusLine_.Show(true);
    statusGroup_.Show(true);
    logGroup_.Show(true);
    statusGroup_.SetText("Scanning");

    char text[200];
    snprintf(text, sizeof text, "Searching for %s Backdoor and its variants", kFamily);
    heading_.SetText(text);
    if (!headingFont_.Handle())
        headingFont_.Attach(
            CreateFontA(15, 0, 0, 0, 700, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0x20, "Arial"));
    heading_.Send<WM_SETFONT>(reinterpret_cast<WPARAM>(headingFont_.Handle()), TRUE);

    CopyText(g_scan.target, sizeof g_scan.target, "!:");
    g_scan.mainWindow = Handle();
    g_scan.action = ACTION_DELETE;

    scanTimerSet_ = SetTimer(Handle(), SCAN_TIMER_ID, SCAN_TIMER_PERIOD, nullptr) != 0;
}

bool MainDialog::OnTimer(UINT_PTR id) {
    if (id != SCAN_TIMER_ID) return false; // no timer of this window
    RunScanOnTimer();
    return true;
}

void MainDialog::RunScanOnTimer() {
    // Only the one-shot timer that SCAN set starts the run, and only once: it
    // dies before the run starts, so that no later timer message (nor one
    // that another program sends) begins a run inside the run. While a
    // question is open (Escape right after SCAN) the timer stays set, and
    // the run starts once the question is answered, never under it.
    if (!scanTimerSet_ || Dialog::OpenDialogs() > 1) return;
    scanTimerSet_ = false;
    KillTimer(Handle(), SCAN_TIMER_ID);
    if (!g_scan.scanning) return;
    g_scan.stopRequested = false;
    RunScan();

    // Finished layout.
    cancel_.Show(false);
    ok_.Show(true);
    heading_.Show(false);
    statusGroup_.SetText("");
    g_scan.scanning = 0;
}

void MainDialog::ConfirmStop(const char* title) {
    // One question at a time: a close or Cancel that arrives while one is
    // open (another program's, posted into its modal loop) asks nothing.
    if (Dialog::OpenDialogs() > 1) return;
    if (!g_scan.scanning) {
        Dialog::OnCancel();
        return;
    }
    if (AskUser(kStopQuestion, title, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        cancel_.Show(false);
        ok_.Show(true);
        g_scan.stopRequested = true;
    }
}

bool MainDialog::OnScanStatus() {
    char status[sizeof g_scan.statusText];
    CopyText(status, sizeof status, g_scan.statusText);
    statusLine_.SetText(status);
    return true;
}

bool MainDialog::OnScanLogLine() {
    char line[sizeof g_scan.lineBuffer];
    CopyText(line, sizeof line, g_scan.lineBuffer);
    int count = static_cast<int>(logList_.Send<LB_GETCOUNT>());
    if (LogMustEmpty(count, g_scan.keepLog)) logList_.Send<LB_RESETCONTENT>();
    logList_.Send<LB_ADDSTRING>(0, reinterpret_cast<LPARAM>(line));
    count = static_cast<int>(logList_.Send<LB_GETCOUNT>());
    logList_.Send<LB_SETCURSEL>(static_cast<WPARAM>(LogSelectionAfterAppend(count)));
    FitLogExtent();
    return true;
}

void MainDialog::FitLogExtent() {
    HWND list = logList_.Handle();
    if (!list) return;
    // Measured as the list draws: in its own font, with its tab stops (no
    // LB_SETTABSTOPS, so the default stops of eight average characters, the
    // same that GetTabbedTextExtentA takes without tab positions).
    HDC dc = GetDC(list);
    if (!dc) return;
    HFONT font = reinterpret_cast<HFONT>(logList_.Send<WM_GETFONT>());
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    int widest = 0;
    int count = static_cast<int>(logList_.Send<LB_GETCOUNT>());
    std::vector<char> text;
    for (int i = 0; i < count; i++) {
        LRESULT length = logList_.Send<LB_GETTEXTLEN>(static_cast<WPARAM>(i));
        if (length < 0) continue;
        text.assign(static_cast<size_t>(length) + 1, 0);
        LRESULT got = logList_.Send<LB_GETTEXT>(static_cast<WPARAM>(i),
                                                reinterpret_cast<LPARAM>(text.data()));
        if (got <= 0 || got > length) continue;
        DWORD size = GetTabbedTextExtentA(dc, text.data(), static_cast<int>(got), 0, nullptr);
        int width = LOWORD(size);
        if (width > widest) widest = width;
    }
    if (previous) SelectObject(dc, previous);
    ReleaseDC(list, dc);
    RECT client;
    if (!GetClientRect(list, &client)) return;
    int current = static_cast<int>(logList_.Send<LB_GETHORIZONTALEXTENT>());
    int extent = LogHorizontalExtent(current, widest, client.right - client.left);
    if (extent != current) logList_.Send<LB_SETHORIZONTALEXTENT>(static_cast<WPARAM>(extent));
}

bool MainDialog::OnLButtonDown(UINT, int x, int y) {
    // Dragging the body moves the window, as if its caption were dragged.
    Post<WM_NCLBUTTONDOWN>(HTCAPTION, MAKELPARAM(x, y));
    return false; // and the press gets its default processing
}

HBRUSH MainDialog::OnCtlColor(HDC dc, HWND control, int type) {
    HBRUSH brush = DefaultCtlColor(dc, control, type);
    SetBkMode(dc, TRANSPARENT);
    if (control && control == banner_.Handle()) return brush;
    if ((type == CTLCOLOR_DLG || type == CTLCOLOR_STATIC) && whiteBrush) return whiteBrush;
    return brush;
}
