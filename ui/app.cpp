/*
** The application: one copy at a time, the main window run as a modal
** dialog, and the end of the process when it closes.
*/
#include "engine/scan_state.h"
#include "ui/framework.h"
#include "ui/main_dialog.h"

class CleanerApp : public WinApp {
  public:
    BOOL InitInstance() override;
};

BOOL CleanerApp::InitInstance() {
    // Hosted controls and the 3-D look need no set-up here: the program has no
    // hosted controls, and every supported Windows draws its standard
    // controls in 3-D by itself.

    // A window of a running copy (the main window or one of its questions)
    // carries this exact title.
    if (FindWindowA(nullptr, SCAN_TITLE)) return FALSE;

    MainDialog* dialog = new MainDialog;
    SetMainWindow(dialog);
    dialog->DoModal();
    SetMainWindow(nullptr);
    delete dialog;
    return FALSE;
}

static CleanerApp theApp;
