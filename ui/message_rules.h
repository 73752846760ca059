/*
** What the program's message loops let through, kept free of Windows headers
** so that the host tests can pin it: which messages taken from the thread's
** queue are handled, which commands a dialog acts on, and which window of
** that title is a running copy of this program.
**
** Any program on the desktop may post to the program's windows and thread
** (Windows NT 4.0 to XP have no barrier between the processes of one
** desktop), so a message taken from the queue proves nothing about who made
** it. The rules keep what the program's own code and the user's input give.
*/
#ifndef CLEANPHANTAXIS_MESSAGE_RULES_H
#define CLEANPHANTAXIS_MESSAGE_RULES_H

#include <stdint.h>

/* The message numbers of the Windows API that the rules read. */
enum QueuedMessageId : uint32_t {
    QUEUED_DESTROY = 0x0002, // WM_DESTROY
    QUEUED_QUIT = 0x0012,    // WM_QUIT
    QUEUED_TIMER = 0x0113,   // WM_TIMER
};

/* Where a message taken from the queue is going. */
enum class QueueTarget {
    Thread,     // no window: a message to the thread itself
    MainWindow, // the main window
    Other,      // any other window of the program (a question, a control)
};

/* Whether a message taken from the queue is handled as it came; false: it is
   dropped before any loop of the program sees it.
   - A timer message is handled only as the timer that made it: never with a
     timer procedure in lParam (the program sets none, and Windows calls that
     address on dispatch), never to the thread (the program sets no thread
     timers), and to the main window only with the id of the one-shot scan
     timer while that timer is set (`scanTimerSet`). A control's own timer
     (a list's scrolling) carries no procedure and passes.
   - WM_QUIT and WM_DESTROY are dropped: the program posts neither (Windows
     sends WM_DESTROY, never posts it), so each is another program's.
   Everything else passes. */
bool KeepsQueuedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, QueueTarget target,
                        uintptr_t scanTimerId, bool scanTimerSet);

/* Whether a dialog acts on a command for control `id`: the dialog's OK and
   Cancel commands (ids 1 and 2) always, since the Enter and Escape keys give
   them whatever the buttons show; any other only while its control is
   visible and enabled in an enabled dialog, as a click could give it. */
bool CommandActs(int id, bool visible, bool enabled);

/* Whether a top-level window bearing the program's title is a running copy of
   this program, which keeps a new copy from starting: a dialog (window class
   "#32770", every window the program makes) of a process whose image file is
   the program's own (`sameImage`: proved by the caller). A window of any
   other class, or whose process's image is another file or could not be
   read, is another program's. */
bool IsRunningCopy(const char* windowClass, bool sameImage);

#endif
