/*
** The application: one copy at a time, the main window run as a modal
** dialog, and the end of the process when it closes; the filter that every
** message loop of the program's thread takes its messages through.
*/
#include "engine/scan_state.h"
#include "memory/image_path.h"
#include "memory/process_scan.h"
#include "platform/platform.h"
#include "ui/framework.h"
#include "ui/main_dialog.h"
#include "ui/message_rules.h"

#include <string.h>

static_assert(QUEUED_DESTROY == WM_DESTROY && QUEUED_QUIT == WM_QUIT && QUEUED_TIMER == WM_TIMER,
              "the filter's message numbers are the platform's");

class CleanerApp : public WinApp {
  public:
    BOOL InitInstance() override;
};

namespace {

HHOOK queueFilter = nullptr;

/* Sees every message a loop of this thread takes from the queue (the walk's
   pump, the dialogs' modal loops) before the loop does; one the rules drop
   becomes WM_NULL, which every loop and window passes over. */
LRESULT CALLBACK FilterQueuedMessage(int code, WPARAM removing, LPARAM param) {
    if (code == HC_ACTION && param) {
        MSG* msg = reinterpret_cast<MSG*>(param);
        HWND main = mainDialog ? mainDialog->Handle() : nullptr;
        QueueTarget target = !msg->hwnd                  ? QueueTarget::Thread
                             : main && msg->hwnd == main ? QueueTarget::MainWindow
                                                         : QueueTarget::Other;
        if (!KeepsQueuedMessage(msg->message, msg->wParam, msg->lParam, target, SCAN_TIMER_ID,
                                mainDialog && mainDialog->ScanTimerSet())) {
            msg->message = WM_NULL;
            msg->wParam = 0;
            msg->lParam = 0;
        }
    }
    return CallNextHookEx(queueFilter, code, removing, param);
}

void InstallQueueFilter() {
    if (!queueFilter)
        queueFilter =
            SetWindowsHookExA(WH_GETMESSAGE, &FilterQueuedMessage, nullptr, GetCurrentThreadId());
}

void RemoveQueueFilter() {
    if (queueFilter) UnhookWindowsHookEx(queueFilter);
    queueFilter = nullptr;
}

/* Whether process `processId` runs this program's own image file, as the
   memory scan lists the processes (tool help on Windows 9x, psapi on NT: the
   kernel's name of the image, confirmed by the file it maps). A process this
   program may not open, or whose image cannot be read, is not proved to run
   it. */
bool RunsOwnImage(uint32_t processId, void*) {
    char own[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, own, sizeof own);
    if (!processId || length == 0 || length >= sizeof own) return false;
    ProcessImage* list = nullptr;
    if (GetPlatform() == PLATFORM_WIN9X) {
        list = ListProcessesToolhelp();
    } else {
        list = ListProcessPsapi(processId);
    }
    bool same = false;
    for (const ProcessImage* rec = list; rec && !same; rec = rec->next)
        same = rec->processId == processId && rec->imagePath[0] && SameFile(rec->imagePath, own);
    FreeProcessList(list);
    return same;
}

/* The process of the next dialog (class "#32770", as every window of the
   program) that bears the program's title, after the one in `*context`; 0
   when there is none. A window of a running copy (the main window or one of
   its questions) carries this exact title; a window of another program may
   carry it too, as many as it likes: FindRunningCopy proves few. */
uint32_t NextTitledDialog(void* context) {
    HWND& window = *static_cast<HWND*>(context);
    while ((window = FindWindowExA(nullptr, window, "#32770", SCAN_TITLE)) != nullptr) {
        char windowClass[64] = "";
        GetClassNameA(window, windowClass, sizeof windowClass);
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId && IsRunningCopy(windowClass, true)) return processId;
    }
    return 0;
}

bool CopyIsRunning() {
    HWND window = nullptr;
    return FindRunningCopy(&NextTitledDialog, &RunsOwnImage, &window);
}

} // namespace

BOOL CleanerApp::InitInstance() {
    // Hosted controls and the 3-D look need no set-up here: the program has no
    // hosted controls, and every supported Windows draws its standard
    // controls in 3-D by itself.

    if (CopyIsRunning()) return FALSE;

    InstallQueueFilter();
    MainDialog* dialog = new MainDialog;
    SetMainWindow(dialog);
    dialog->DoModal();
    SetMainWindow(nullptr);
    delete dialog;
    RemoveQueueFilter();
    return FALSE;
}

static CleanerApp theApp;
