/*
** The window framework: application object, modal dialogs, bound and
** subclassed controls.
*/
#include "ui/framework.h"
#include "engine/scan_state.h"
#include "platform/resolve.h"
#include "ui/message_rules.h"

#include <vector>

static_assert(WM_SCAN_LOGLINE == WM_SETREDRAW && WM_SCAN_STATUS == WM_ENABLE &&
                  LB_ADDSTRING == 0x0180 && LB_GETLISTBOXINFO == 0x01B2 && DM_SETDEFID == 0x0401 &&
                  BM_CLICK == 0x00F5 && STM_SETIMAGE == 0x0172 && WM_SYSCOMMAND == 0x0112,
              "the message rules' numbers are the platform's");

namespace {

/* Whether the message being handled was sent by another thread (every other
   thread is another program's: the program has one). InSendMessageEx tells
   SendNotifyMessage and SendMessageCallback too; Windows 95 and NT 4.0 lack
   it, and there InSendMessage tells SendMessage alone. */
decltype(Resolvable::InSendMessageEx)::Fn sendFlags = nullptr;
bool sendFlagsLooked = false;

bool SentByAnotherThread() {
    if (!sendFlagsLooked) {
        sendFlagsLooked = true;
        sendFlags = Resolve(GetModuleHandleA("user32.dll"), Resolvable::InSendMessageEx);
    }
    if (sendFlags) return (sendFlags(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK)) != 0;
    return InSendMessage() != FALSE;
}

/* What a window of the program does first with a message, before any of its
   code: true when another thread's message was refused or posted back
   (ForeignSentMessage), and the window procedure returns at once. */
bool TurnedAway(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!SentByAnotherThread()) return false;
    switch (ForeignSentMessage(message)) {
    case ForeignSend::Handle:
        return false;
    case ForeignSend::Repost:
        PostMessageA(hwnd, message, wParam, lParam);
        return true;
    case ForeignSend::Refuse:
    default:
        return true;
    }
}

} // namespace

WinApp* WinApp::current_ = nullptr;

WinApp::WinApp() { current_ = this; }

WinApp::~WinApp() {
    if (current_ == this) current_ = nullptr;
}

int WinApp::Run(HINSTANCE instance) {
    instance_ = instance;
    // The program is a dialog application: InitInstance runs the main window
    // itself and returns FALSE, so there is no message loop here.
    InitInstance();
    return 0;
}

HWND WinApp::MainWindowHandle() const { return mainWindow_ ? mainWindow_->Handle() : nullptr; }

HINSTANCE AppInstance() {
    WinApp* app = WinApp::Current();
    if (app && app->Instance()) return app->Instance();
    return GetModuleHandleA(nullptr);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WinApp* app = WinApp::Current();
    return app ? app->Run(instance) : 0;
}

// ---- Window ----

std::string Window::Text() const {
    if (!hwnd_) return std::string();
    int length = GetWindowTextLengthA(hwnd_);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    int got = GetWindowTextA(hwnd_, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

RECT Window::ScreenRect() const {
    RECT rect = {0, 0, 0, 0};
    if (hwnd_) GetWindowRect(hwnd_, &rect);
    return rect;
}

// ---- Subclassed controls ----

namespace {
const char kObjectProperty[] = "CleanPhantaxis.Object";

/* Every control object bound now. A window's property names its object, but
   another program may set a property of any window on the desktop: only an
   address listed here is taken for an object. The main window's seventeen
   controls and a question's seven fit. */
SubclassedControl* boundObjects[48];

bool IsBoundObject(const SubclassedControl* object) {
    for (const SubclassedControl* bound : boundObjects)
        if (object && bound == object) return true;
    return false;
}

SubclassedControl** FreeSlot() {
    for (SubclassedControl*& bound : boundObjects)
        if (!bound) return &bound;
    return nullptr;
}
} // namespace

SubclassedControl::~SubclassedControl() { Unsubclass(); }

void SubclassDlgItems(HWND dialog,
                      std::initializer_list<std::pair<SubclassedControl*, int>> items) {
    for (const auto& [control, id] : items)
        control->SubclassDlgItem(id, dialog);
}

void BindDlgItems(HWND dialog, std::initializer_list<std::pair<Control*, int>> items) {
    for (const auto& [control, id] : items)
        control->Bind(dialog, id);
}

SubclassedControl* SubclassedControl::OfDialog(HWND dialog, int id) {
    for (SubclassedControl* bound : boundObjects)
        if (bound && bound->hwnd_ && bound->dialog_ == dialog && bound->id_ == id) return bound;
    return nullptr;
}

SubclassedControl* SubclassedControl::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    SubclassedControl* object = static_cast<SubclassedControl*>(GetPropA(hwnd, kObjectProperty));
    return IsBoundObject(object) ? object : nullptr;
}

bool SubclassedControl::SubclassDlgItem(int id, HWND dialog) {
    if (hwnd_) return false;
    HWND item = GetDlgItem(dialog, id);
    SubclassedControl** slot = FreeSlot();
    if (!item || !slot || FromHandle(item)) return false;
    if (!SetPropA(item, kObjectProperty, this)) return false;
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(item, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Thunk)));
    if (!original_) {
        RemovePropA(item, kObjectProperty);
        return false;
    }
    hwnd_ = item;
    dialog_ = dialog;
    id_ = id;
    *slot = this;
    return true;
}

void SubclassedControl::Unsubclass() {
    if (!hwnd_) return;
    for (SubclassedControl*& bound : boundObjects)
        if (bound == this) bound = nullptr;
    if (IsWindow(hwnd_) && original_) {
        SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        RemovePropA(hwnd_, kObjectProperty);
    }
    hwnd_ = nullptr;
    dialog_ = nullptr;
    id_ = 0;
}

LRESULT SubclassedControl::WindowProc(UINT, WPARAM, LPARAM) { return Default(); }

LRESULT SubclassedControl::Default() {
    return CallWindowProcA(original_, hwnd_, message_, wParam_, lParam_);
}

LRESULT CALLBACK SubclassedControl::Thunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SubclassedControl* self = FromHandle(hwnd);
    if (!self || self->hwnd_ != hwnd) return DefWindowProcA(hwnd, message, wParam, lParam);
    // Another program's LB_ADDSTRING, WM_SETTEXT, WM_SETREDRAW, WM_NCDESTROY
    // ... change nothing; its clicks and keys come back through the queue.
    if (TurnedAway(hwnd, message, wParam, lParam)) return 0;

    // Handlers may send messages to their own window; keep the outer message
    // for Default() of the outer handler.
    UINT savedMessage = self->message_;
    WPARAM savedW = self->wParam_;
    LPARAM savedL = self->lParam_;
    self->message_ = message;
    self->wParam_ = wParam;
    self->lParam_ = lParam;
    LRESULT result;
    if (message == WM_NCDESTROY) {
        WNDPROC original = self->original_;
        self->Unsubclass();
        result = CallWindowProcA(original, hwnd, message, wParam, lParam);
        return result;
    }
    result = self->WindowProc(message, wParam, lParam);
    self->message_ = savedMessage;
    self->wParam_ = savedW;
    self->lParam_ = savedL;
    return result;
}

// ---- Dialog ----

Dialog* Dialog::opening_ = nullptr;
int Dialog::open_ = 0;
Dialog* Dialog::windows_[8] = {};

Dialog* Dialog::Of(HWND hwnd) {
    for (Dialog* dialog : windows_)
        if (dialog && dialog->hwnd_ == hwnd) return dialog;
    return nullptr;
}

INT_PTR Dialog::DoModal() {
    owner_ = parent_;
    if (!owner_ && WinApp::Current()) {
        HWND main = WinApp::Current()->MainWindowHandle();
        if (main && IsWindow(main)) owner_ = main;
    }
    opening_ = this;
    level_ = ++open_;
    const INT_PTR result = DialogBoxParamA(AppInstance(), MAKEINTRESOURCEA(templateId_), owner_,
                                           &DialogProc, reinterpret_cast<LPARAM>(this));
    --open_;
    level_ = 0;
    opening_ = nullptr;
    return result;
}

void Dialog::EndDialog(INT_PTR result) {
    if (hwnd_) ::EndDialog(hwnd_, result);
}

void Dialog::OnCommand(int id, int) {
    if (id == IDOK)
        OnOK();
    else if (id == IDCANCEL)
        OnCancel();
}

HBRUSH Dialog::DefaultCtlColor(HDC dc, HWND control, int type) {
    return reinterpret_cast<HBRUSH>(DefWindowProcA(hwnd_, WM_CTLCOLORMSGBOX + type,
                                                   reinterpret_cast<WPARAM>(dc),
                                                   reinterpret_cast<LPARAM>(control)));
}

HBRUSH Dialog::OnCtlColor(HDC dc, HWND control, int type) {
    return DefaultCtlColor(dc, control, type);
}

void Dialog::CenterOver(HWND owner) {
    RECT work;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
        work.left = work.top = 0;
        work.right = GetSystemMetrics(SM_CXSCREEN);
        work.bottom = GetSystemMetrics(SM_CYSCREEN);
    }
    RECT area = work;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &area);
    RECT self;
    GetWindowRect(hwnd_, &self);
    int width = self.right - self.left, height = self.bottom - self.top;
    int left = (area.left + area.right) / 2 - width / 2;
    int top = (area.top + area.bottom) / 2 - height / 2;
    // Keep the dialog on the screen.
    if (left + width > work.right) left = work.right - width;
    if (top + height > work.bottom) top = work.bottom - height;
    if (left < work.left) left = work.left;
    if (top < work.top) top = work.top;
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // WM_INITDIALOG and WM_NCDESTROY come from this thread, as DoModal's
    // dialog opens and goes, and so do the engine's notifications and every
    // other message only the program gives. One sent by another program (no
    // UIPI before Vista) is dropped: a WM_INITDIALOG's lParam is no dialog
    // of ours, a WM_NCDESTROY would cut the window off from its object while
    // it stays on screen, a notification would add a line again. Handled, so
    // that the dialog manager does nothing either. Its commands and keys
    // come back through the queue, as posted ones.
    if (TurnedAway(hwnd, message, wParam, lParam)) {
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    if (message == WM_INITDIALOG) {
        Dialog* self = reinterpret_cast<Dialog*>(lParam);
        if (!self || self != opening_ || Of(hwnd)) return TRUE;
        Dialog** slot = nullptr;
        for (Dialog*& free : windows_)
            if (!free) {
                slot = &free;
                break;
            }
        if (!slot) return TRUE;
        opening_ = nullptr;
        *slot = self;
        self->hwnd_ = hwnd;
        RECT before, after;
        GetWindowRect(hwnd, &before);
        BOOL result = self->OnInitDialog();
        // A dialog that did not place itself opens centred over its owner.
        GetWindowRect(hwnd, &after);
        if (after.left == before.left && after.top == before.top) self->CenterOver(self->owner_);
        return result;
    }
    Dialog* self = Of(hwnd);
    if (!self) return FALSE;
    bool handled = false;
    INT_PTR result = self->Route(message, wParam, lParam, &handled);
    if (message == WM_NCDESTROY) {
        for (Dialog*& open : windows_)
            if (open == self) open = nullptr;
        self->hwnd_ = nullptr;
    }
    return handled ? result : FALSE;
}

INT_PTR Dialog::Route(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    *handled = true;
    switch (message) {
    case WM_COMMAND: {
        // A command for a control that the program's code has hidden or
        // disabled, or has not shown and enabled, does nothing, whoever sent
        // or posted it, and whatever another program made the window show:
        // a click could not give it. Nor does one for this dialog while a
        // question is open over it.
        const int id = LOWORD(wParam);
        const SubclassedControl* control = SubclassedControl::OfDialog(hwnd_, id);
        const bool shown = control && control->ShownByProgram();
        const bool enabled = control && control->EnabledByProgram();
        if (CommandActs(id, shown, enabled, level_ == open_)) OnCommand(id, HIWORD(wParam));
        return TRUE;
    }
    case WM_TIMER:
        *handled = OnTimer(wParam);
        return TRUE;
    case WM_PAINT:
        *handled = OnPaint();
        return TRUE;
    case WM_LBUTTONDOWN:
        *handled = OnLButtonDown(static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)),
                                 static_cast<short>(HIWORD(lParam)));
        return TRUE;
    case WM_CLOSE:
        *handled = OnClose();
        return TRUE;
    case WM_DRAWITEM: {
        // Owner drawing goes to the control object, as the control's own job.
        const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        SubclassedControl* control = item ? SubclassedControl::FromHandle(item->hwndItem) : nullptr;
        *handled = control && control->DrawItem(item);
        return TRUE;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        HBRUSH brush = OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                  static_cast<int>(message - WM_CTLCOLORMSGBOX));
        *handled = brush != nullptr;
        return reinterpret_cast<INT_PTR>(brush);
    }
    case WM_SCAN_LOGLINE:
    case WM_SCAN_STATUS:
        // The engine sends both with zero parameters; anything else is the
        // platform's own message of that number and gets its usual processing.
        if (wParam != 0 || lParam != 0) break;
        *handled = message == WM_SCAN_LOGLINE ? OnScanLogLine() : OnScanStatus();
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, 0);
        return TRUE;
    default:
        break;
    }
    *handled = false;
    return FALSE;
}

LRESULT Window::SendOwn(UINT message, WPARAM wParam, LPARAM lParam) const {
    return hwnd_ ? SendMessageA(hwnd_, message, wParam, lParam) : 0;
}

void Window::PostOwn(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (hwnd_) PostMessageA(hwnd_, message, wParam, lParam);
}
