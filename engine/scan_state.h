/*
** The scan state: the one process-wide record of a scan, shared by the engine
** and the main window, and the engine's two notifications to the window.
**
** Zero at program start and never reset: the program runs one scan. The
** engine reaches the window only through PostLogLine and ShowStatus, both
** synchronous: the window has copied the text when the call returns.
*/
#ifndef CLEANPHANTAXIS_SCAN_STATE_H
#define CLEANPHANTAXIS_SCAN_STATE_H

#include "actions/files.h"
#include "engine/file_check.h"
#include "platform/win32.h"
#include <stdint.h>

/* Deliberate: the main window's two private messages reuse the numbers of
   WM_SETREDRAW (0x0B) and WM_ENABLE (0x0A). The window's dialog routing
   (ui/framework.cpp) tells them from the platform's own messages of those
   numbers only by both parameters being 0; pinned by a static_assert in
   tests/world.cpp. */
#define WM_SCAN_LOGLINE 0x0B
#define WM_SCAN_STATUS 0x0A

/* What happens to an infected file. */
enum DisposalAction : int32_t {
    ACTION_DELETE = 100,
    ACTION_RENAME = 101,
    ACTION_DELETE_TOO = 102, // handled exactly as ACTION_DELETE
    ACTION_REPORT_ONLY = 103,
};

#define SCAN_TITLE "CleanPhantaxis Ver 1.0"

/*
** Who writes the flags, and the combinations that can occur. The rules marked
** [checked] are asserted by CheckScanStateRules in the host builds, at the
** entry of every walk (WalkDirectory) and every file check (CheckFile).
**
** - scanning: set by SCAN, cleared when the run has ended; one run a program.
** - stopRequested: set by Cancel and by Escape ("Terminate the Scan now?");
**   cleared before the run starts.
** - action: ACTION_DELETE from SCAN on; the memory scan's disposal sets it to
**   pendingMemoryAction, which was copied from it.
** - memoryScanMode: on only during the memory scan step (ScanMemory), whose
**   walks each take one running program's image file. On NT a variant found
**   there ends the program with the mode still on.
** - pendingMemoryAction: non-zero only during the memory scan's second walk
**   of an image whose process it has terminated, so only with memoryScanMode
**   on [checked]. It acts only with a main window: a scan started by SCAN
**   always has one; without one the check runs as usual.
** - fileMatched: set only by a check in memory-scan mode; every walk level
**   clears it first, and the process scan reads it right after its walk.
** - memoryRestartNeeded: set only by the memory scan on NT, when a variant's
**   service could not be stopped, so only with memoryScanMode on [checked].
** - restartNeeded, restartOtherwise, programFilesVisited, memoryRestartNeeded:
**   only ever set, never cleared. filesScanned (never in memory-scan mode),
**   filesInfected, filesRemoved, volumesEntered and filesWaiting only grow;
**   volumesEntered and filesWaiting stay within their 16 slots [checked].
** - programFilesPending: set by the walk of a drive's root pattern when the
**   drive has "\Program Files"; cleared by the run once it walked one the
**   tree walk had missed.
** - provedVariant: written only by the file check, at each match, and
**   cleared where a run starts; what a service's stop or removal by name
**   alone must find the service running.
** - keepLog: set once every walk is over, for the statistics; no walk or
**   check comes after it [checked].
** - Every BOOL flag holds 0 or 1 [checked].
*/
struct ScanState {
    HWND mainWindow;             // receives the two notifications; null until SCAN
    char target[260];            // "!:" every fixed drive, else one directory
    int32_t action;              // a DisposalAction
    char lineBuffer[500];        // the log line being posted
    char statusText[260];        // status line text (full path at a detection)
    char detectionName[260];     // name of the latest match
    bool stopRequested;          // the user asked to stop
    bool keepLog;                // the log list no longer empties at 150 lines
    BOOL scanning;               // a scan is in progress
    BOOL restartNeeded;          // a deletion waits for the restart (never cleared)
    int32_t filesScanned;        // files met by the walk outside memory-scan mode
    int32_t filesInfected;       // detections, memory scan included
    int32_t filesRemoved;        // infected files deleted
    bool memoryScanMode;         // the walk checks one running program's image
    bool fileMatched;            // memory scan: the file just walked is a variant
    int32_t pendingMemoryAction; // non-zero: next check disposes without matching
    char programFilesPattern[260];
    BOOL programFilesPending;     // the drive just walked has "\Program Files"
    BOOL programFilesVisited;     // some walk entered "...\Program Files\..."
    char currentFile[261];        // file under check, for the autostart cleanup
    char provedVariant[261];      // the last file the file check matched this run
    char autostartValueName[128]; // last autostart value matched
    char autostartValueKey[64];   // the key it was found in
    REGSAM autostartValueView;    // and the registry view
    char autostartValueFile[261]; // and the file it started
    // How many files this run matched as variants, each once: to the
    // autostart walk a value's reading that names one starts no other
    // program (repair/autostart.cpp). Their records, in a block of
    // repair/service_command.cpp (RememberMatched), are each the file the
    // check held, by its identity and the drive letter whose volume that
    // identity belongs to: a name is no record, since any user may free it
    // and make it again.
    int32_t variantsMatched;
    BOOL memoryRestartNeeded; // the memory scan wants its restart question
    // Volumes without a fixed drive letter that the walk has entered through
    // a folder they are mounted in ("\\?\Volume{...}\"): each once a scan, and
    // no more than 16 of them.
    int32_t volumesEntered;
    char volumeEntered[16][50];
    // The files moved into a waiting folder for the restart, the first 16,
    // each with the program's handle on it (WaitingFile), open until the
    // program exits: re-checked when the restart is offered and before it is
    // made (RestartStillNeeded). `counts`: the restart is offered for it
    // (not for one a program held for deleting from before, nor once it has
    // left its folder). `restartOtherwise`: a deletion not listed here waits
    // for the restart (a file only marked, a path scheduled by name).
    int32_t filesWaiting;
    struct {
        WaitingFile file;
        char checkedPath[261]; // where the check found it, for its line
        char name[260];        // the variant's name
        bool counts;
    } fileWaiting[16];
    BOOL restartOtherwise;
    // A 32-bit program on 64-bit Windows (found at the start of the run by
    // DetectWow64, which also finds the redirection switch there).
    BOOL wow64;
};

/* The process-wide scan state. */
extern ScanState g_scan;

/* Formats one log line into g_scan.lineBuffer (printf rules, cut to fit) and
   sends WM_SCAN_LOGLINE to the main window, when there is one. */
void PostLogLine(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* Copies `text` into g_scan.statusText and sends WM_SCAN_STATUS. */
void ShowStatus(const char* text);

/* Asserts the [checked] rules above: in the host builds (CHECK_SCAN_STATE) a
   broken rule ends the process with its text; in the Windows builds it does
   nothing. */
void CheckScanStateRules();

/* Copies a string into a fixed buffer, always terminated, cut to fit. */
void CopyText(char* dest, size_t size, const char* src);

#endif
