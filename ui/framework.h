/*
** The program's small window framework: an application object with an
** init-instance step, modal dialogs made from dialog templates whose messages
** are routed to member functions, control objects bound to dialog controls by
** id, and subclassed controls (owner-drawn buttons, a self-painting static).
** It covers what the main window and the question dialog need, nothing more.
*/
#ifndef CLEANPHANTAXIS_FRAMEWORK_H
#define CLEANPHANTAXIS_FRAMEWORK_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>

class Dialog;

/* The application: one instance per process, constructed before WinMain. */
class WinApp {
  public:
    WinApp();
    virtual ~WinApp();
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    /* The per-instance start-up step. Returning FALSE ends the process. */
    virtual BOOL InitInstance() = 0;

    /* Called by WinMain: records the instance and runs InitInstance. */
    int Run(HINSTANCE instance);

    HINSTANCE Instance() const { return instance_; }
    /* The main window: owner of dialogs that are made without a parent. */
    void SetMainWindow(Dialog* dialog) { mainWindow_ = dialog; }
    HWND MainWindowHandle() const;

    static WinApp* Current() { return current_; }

  private:
    HINSTANCE instance_ = nullptr;
    Dialog* mainWindow_ = nullptr;
    static WinApp* current_;
};

/* The instance that holds the program's resources. */
HINSTANCE AppInstance();

/* A GDI object (font, bitmap, brush) owned by the object: deleted with it. */
template <class H> class GdiObject {
  public:
    GdiObject() = default;
    ~GdiObject() { Delete(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    void Attach(H object) {
        Delete();
        object_ = object;
    }
    void Delete() {
        if (object_) DeleteObject(object_);
        object_ = nullptr;
    }
    H Handle() const { return object_; }

  private:
    H object_ = nullptr;
};
using Font = GdiObject<HFONT>;

/* The messages the window code sends or posts, each to a window of its own:
   its fonts and icon, the drag of its body, and its log list. */
constexpr bool SentToOwnWindows(UINT message) {
    return message == WM_GETFONT || message == WM_SETFONT || message == WM_SETICON ||
           message == WM_NCLBUTTONDOWN || message == LB_ADDSTRING || message == LB_GETCOUNT ||
           message == LB_GETHORIZONTALEXTENT || message == LB_GETTEXT || message == LB_GETTEXTLEN ||
           message == LB_RESETCONTENT || message == LB_SETCURSEL ||
           message == LB_SETHORIZONTALEXTENT;
}

/* Any window the program talks to: a handle and the few calls the dialogs use. */
class Window {
  public:
    virtual ~Window() = default;
    HWND Handle() const { return hwnd_; }
    bool IsBound() const { return hwnd_ != nullptr; }

    /* Shows or hides, enables or disables the window, and records it: the
       record, not the window's state (which any program on the desktop may
       change), is what the dialogs act by. A window the program's code has
       not shown and enabled counts as neither. */
    void Show(bool show) {
        shown_ = show;
        if (hwnd_) ShowWindow(hwnd_, show ? SW_SHOW : SW_HIDE);
    }
    void Enable(bool enable) {
        enabled_ = enable;
        if (hwnd_) EnableWindow(hwnd_, enable ? TRUE : FALSE);
    }
    bool ShownByProgram() const { return shown_; }
    bool EnabledByProgram() const { return enabled_; }
    void SetText(const char* text) {
        if (hwnd_) SetWindowTextA(hwnd_, text);
    }
    std::string Text() const;
    /* Sends or posts one of the messages the program gives its own windows
       (SentToOwnWindows): the window code's only senders. */
    template <UINT message> LRESULT Send(WPARAM wParam = 0, LPARAM lParam = 0) const {
        static_assert(SentToOwnWindows(message), "not a message the program sends its windows");
        return SendOwn(message, wParam, lParam);
    }
    template <UINT message> void Post(WPARAM wParam = 0, LPARAM lParam = 0) const {
        static_assert(SentToOwnWindows(message), "not a message the program sends its windows");
        PostOwn(message, wParam, lParam);
    }
    /* The window's rectangle in screen coordinates. */
    RECT ScreenRect() const;

  private:
    /* Set only by the framework's own binders: a dialog item of the
       program's dialogs, a subclassed item, the dialog itself. */
    friend class Control;
    friend class SubclassedControl;
    friend class Dialog;
    HWND hwnd_ = nullptr;
    bool shown_ = false;
    bool enabled_ = false;

    LRESULT SendOwn(UINT message, WPARAM wParam, LPARAM lParam) const;
    void PostOwn(UINT message, WPARAM wParam, LPARAM lParam) const;
};

/* A control whose window procedure is replaced by the object's WindowProc;
   messages it does not handle go to the control's own procedure. */
class SubclassedControl : public Window {
  public:
    SubclassedControl() = default;
    ~SubclassedControl() override;
    SubclassedControl(const SubclassedControl&) = delete;
    SubclassedControl& operator=(const SubclassedControl&) = delete;

    /* Binds the object to the dialog item `id` of `dialog` and subclasses it. */
    bool SubclassDlgItem(int id, HWND dialog);

    /* The object bound to a window, if that window is subclassed by us. */
    static SubclassedControl* FromHandle(HWND hwnd);

    /* Owner-drawn controls get their parent's draw request here. */
    virtual bool DrawItem(const DRAWITEMSTRUCT*) { return false; }

    /* The control the program bound as item `id` of `dialog`, if any, whatever
       ids the windows carry now. */
    static SubclassedControl* OfDialog(HWND dialog, int id);

  protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    /* Default processing of the message being handled. */
    LRESULT Default();

  private:
    static LRESULT CALLBACK Thunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Unsubclass();

    WNDPROC original_ = nullptr;
    // The dialog and id it was bound to: a window's id is any program's to
    // change (GWLP_ID), so a command finds its control by these.
    HWND dialog_ = nullptr;
    int id_ = 0;
    UINT message_ = 0;
    WPARAM wParam_ = 0;
    LPARAM lParam_ = 0;
};

/* A plain control: bound to the dialog item with the given id, and
   subclassed like every control of the program, so that another program's
   messages that only the program gives it (IsProgramOnlyMessage) change
   nothing. */
class Control : public SubclassedControl {
  public:
    bool Bind(HWND dialog, int id) { return SubclassDlgItem(id, dialog); }
};

/* The framework's button class: a subclassed push button. */
class Button : public SubclassedControl {};

/* The framework's static class: a subclassed static control. */
class Static : public SubclassedControl {};

/* Binds each control of a list to its item of `dialog`, in the list's order. */
void SubclassDlgItems(HWND dialog, std::initializer_list<std::pair<SubclassedControl*, int>> items);
void BindDlgItems(HWND dialog, std::initializer_list<std::pair<Control*, int>> items);

/* A modal dialog made from a dialog template. The dialog procedure routes the
   messages the program handles to the member functions below; everything
   else gets the platform's dialog processing. */
class Dialog : public Window {
  public:
    explicit Dialog(int templateId, HWND parent = nullptr)
        : templateId_(templateId), parent_(parent) {}
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    /* Runs the dialog until EndDialog; returns its result, -1 when it could not
       be created. Without a parent, the application's main window owns it. */
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

    /* The program's dialogs open now: the main window and a question over it. */
    static int OpenDialogs() { return open_; }

  protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    /* Commands by id, each only while CommandActs (ui/message_rules.h) lets
       it: never one for a hidden or disabled control. The default routes
       IDOK and IDCANCEL to OnOK and OnCancel and ignores the rest. */
    virtual void OnCommand(int id, int code);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    /* Each returns true when it handled the message. */
    virtual bool OnTimer(UINT_PTR) { return false; }
    virtual bool OnPaint() { return false; }
    virtual bool OnLButtonDown(UINT, int, int) { return false; }
    virtual bool OnClose() { return false; }
    /* The engine's two notifications (WM_SCAN_LOGLINE and WM_SCAN_STATUS, both
       parameters 0). */
    virtual bool OnScanLogLine() { return false; }
    virtual bool OnScanStatus() { return false; }
    /* The brush for a control colour request; `type` is a CTLCOLOR_ code. */
    virtual HBRUSH OnCtlColor(HDC dc, HWND control, int type);
    /* The platform's default answer to a control colour request. */
    HBRUSH DefaultCtlColor(HDC dc, HWND control, int type);

    /* Centres the dialog over `owner`, or over the screen's work area. */
    void CenterOver(HWND owner);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static Dialog* opening_; // the dialog DoModal is opening, until its WM_INITDIALOG
    // The dialogs whose windows are open, found by their windows here alone:
    // a window's own fields (DWLP_USER) are any program's to read and write.
    static Dialog* windows_[8];
    static Dialog* Of(HWND hwnd);
    static int open_; // dialogs in DoModal
    int level_ = 0;   // open_ while this one runs: the innermost has open_
    INT_PTR Route(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);

    int templateId_;
    HWND parent_;
    HWND owner_ = nullptr;
};

#endif
