/*
** The main window: a skinned dialog without caption bar that offers SCAN,
** runs the scan from a one-shot timer, shows the engine's status and log
** lines, and asks before it lets the user stop a running scan.
*/
#ifndef CLEANPHANTAXIS_MAIN_DIALOG_H
#define CLEANPHANTAXIS_MAIN_DIALOG_H

#include "ui/banner_label.h"
#include "ui/bitmap_buttons.h"
#include "ui/framework.h"

#include "resources/version.h" // NOTICE_LINE

#define MAKER_WEB_HOST "www.example.invalid"
#define DOWNLOAD_PAGE "/download/downloadnow.htm"
#define UTILITY_PAGE "/download/utility.htm"
#define PRODUCT_KEY "Software\\Kelvora\\Sentravix 2000"
#define PRODUCT_VALUE "Installed Folder"

/* The design size the skin is drawn for, and the window's own size. */
#define DESIGN_WIDTH 600
#define DESIGN_HEIGHT 337
#define WINDOW_WIDTH 600
#define WINDOW_HEIGHT 462

#define SCAN_TIMER_ID 100
#define SCAN_TIMER_PERIOD 100

class MainDialog : public Dialog {
  public:
    MainDialog();
    ~MainDialog() override;

    /* The one-shot scan timer is set: SCAN set it and the run has not begun. */
    bool ScanTimerSet() const { return scanTimerSet_; }

  protected:
    BOOL OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnOK() override {} // the Enter key's OK command does nothing
    void OnCancel() override;
    bool OnTimer(UINT_PTR id) override;
    bool OnPaint() override;
    bool OnLButtonDown(UINT flags, int x, int y) override;
    bool OnClose() override;
    bool OnScanLogLine() override;
    bool OnScanStatus() override;
    HBRUSH OnCtlColor(HDC dc, HWND control, int type) override;

  private:
    void BindControls();
    void SetUpSkin();
    void StartScan();
    void RunScanOnTimer();
    void ConfirmStop(const char* title);
    void FitLogExtent();

    // Bitmap buttons.
    CExButton ok_, cancel_, scan_, download_, closeBox_, downloadLink_, utilityLink_, logo_;
    // Plain controls.
    Control statusGroup_, statusLine_, heading_, productLine_, noticeLine_, titleLine_, logGroup_,
        logList_;
    BannerLabel banner_;

    HICON icon_;
    Font headingFont_;
    bool scanStarted_ = false;  // SCAN is offered once per program run
    bool scanTimerSet_ = false; // the one-shot timer that starts the run

    // The skin (bitmap 156), its memory device context and the window region.
    GdiObject<HBITMAP> skinBitmap_;
    int skinWidth_ = 0, skinHeight_ = 0;
    HDC skinDc_ = nullptr;
    HGDIOBJ skinPrevious_ = nullptr;
    HRGN region_ = nullptr; // belongs to the platform once applied
};

/* The main window, once it has initialised (centring of the question dialog,
   and the font of the bold banner). */
extern MainDialog* mainDialog;
/* The screen's horizontal resolution is 120 dots per inch or more. */
extern BOOL largeFonts;
/* The banner's bold font. */
extern Font bannerFont;
/* White background of the window and its labels; kept to the end. */
extern HBRUSH whiteBrush;

/* A copy of the main window's font (the system font when it has none) with
   the given height, weight, underline and italic, attached to `font`. */
void MakeBoldDialogFont(Font& font, int height, int weight, bool underline, bool italic);

/* The maker's anti-virus product is installed: its key opens for reading and
   its "Installed Folder" value can be read. */
bool IsProductInstalled();

#endif
