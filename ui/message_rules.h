/*
** What the program's message loops let through, kept free of Windows headers
** so that the host tests can pin it: which messages taken from the thread's
** queue are handled, which commands a dialog acts on, and which window of
** that title is a running copy of this program.
**
** Any program on the desktop may post or send to the program's windows and
** thread, show, hide, enable or disable them (Windows NT 4.0 to XP have no
** barrier between the processes of one desktop), so neither a message nor a
** window's state proves who made it. The rules keep what the program's own
** code and the user's input give.
*/
#ifndef CLEANPHANTAXIS_MESSAGE_RULES_H
#define CLEANPHANTAXIS_MESSAGE_RULES_H

#include <stdint.h>

/* The message numbers of the Windows API that the rules read. */
enum QueuedMessageId : uint32_t {
    QUEUED_DESTROY = 0x0002,  // WM_DESTROY
    QUEUED_QUIT = 0x0012,     // WM_QUIT
    QUEUED_TIMER = 0x0113,    // WM_TIMER
    QUEUED_SYSTIMER = 0x0118, // WM_SYSTIMER: the system's own timers (the caret)
};

/* Whether only the program's own code gives a window of the program this
   message: one that changes what a window shows or holds, or opens or ends
   it, and that neither the user's input nor Windows on another program's
   behalf ever gives: WM_DESTROY, WM_NCDESTROY and WM_INITDIALOG; the
   engine's two notifications (0x0A and 0x0B, the numbers of WM_ENABLE and
   WM_SETREDRAW); WM_SETTEXT, WM_SETFONT and WM_SETICON; the owner-drawing
   messages (their lParam is a structure to trust); DM_SETDEFID and
   WM_NEXTDLGCTL (which button Enter or Space presses); the setters of
   buttons (BM_SETCHECK, BM_SETSTATE, BM_SETSTYLE, BM_SETIMAGE,
   BM_SETDONTCLICK; BM_CLICK is a click), of statics (STM_SETICON,
   STM_SETIMAGE) and of list boxes (every LB_ message but those that only
   read). The program sends each only from its own and only thread and
   posts none: one sent from another thread is refused, one taken from the
   queue dropped. Reading messages (WM_GETTEXT, LB_GETTEXT) and what a click
   or a key gives pass. */
bool IsProgramOnlyMessage(uint32_t message);

/* What a window of the program does with a message sent to it from another
   thread (InSendMessageEx: SendMessage, SendNotifyMessage, SendMessageCallback;
   the program has one thread, so every such message is another program's). */
enum class ForeignSend {
    Handle, // handled where it arrived: it reads, paints or is the system's own
    Refuse, // a program-only message (IsProgramOnlyMessage): nothing happens
    Repost, // a command or input: posted back to the same window and handled
            // from the queue, as the same message posted would be, so that
            // no code of the program runs inside another thread's send (the
            // window's own sends there would look like another thread's)
};
ForeignSend ForeignSentMessage(uint32_t message);

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
   - WM_SYSTIMER is dropped with anything in lParam: Windows' own system
     timers carry no procedure there, and no code address another program
     names is ever handed to DispatchMessage.
   - WM_QUIT and every program-only message (IsProgramOnlyMessage, WM_DESTROY
     among them) are dropped: the program posts none of them (Windows sends
     WM_DESTROY, never posts it), so each is another program's.
   Everything else passes. */
bool KeepsQueuedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, QueueTarget target,
                        uintptr_t scanTimerId, bool scanTimerSet);

/* Whether a dialog acts on a command for control `id`: the dialog's OK and
   Cancel commands (ids 1 and 2) always, since the Enter and Escape keys give
   them whatever the buttons show; any other only while the program's own
   code has shown (`shown`) and enabled (`enabled`) its control and the
   dialog is the innermost one open (`onTop`: no question over it), as a
   click could give it. The caller takes `shown` and `enabled` from its own
   record of what it set, never from the window, whose state another
   program may change. */
bool CommandActs(int id, bool shown, bool enabled, bool onTop);

/* Whether a top-level window bearing the program's title is a running copy of
   this program, which keeps a new copy from starting: a dialog (window class
   "#32770", every window the program makes) of a process whose image file is
   the program's own (`sameImage`: proved by the caller). A window of any
   other class, or whose process's image is another file or could not be
   read, is another program's. */
bool IsRunningCopy(const char* windowClass, bool sameImage);

/* The most processes the single-instance test proves, each once: proving
   one costs a process listing and two file opens (under Wine up to a second
   and a half), and any program may make as many dialogs of the title. */
enum { COPY_PROCESSES_PROVED = 8 };

/* Looks for a running copy among the dialogs bearing the program's title,
   in the order `nextProcess` gives their processes (0 ends the list): each
   process is proved (`runsOwnImage`) at most once however many windows it
   has, and no more than COPY_PROCESSES_PROVED processes: past them, and
   when no process is proved, there is no running copy and the program
   starts (a copy not proved does not keep it from starting). */
bool FindRunningCopy(uint32_t (*nextProcess)(void* context),
                     bool (*runsOwnImage)(uint32_t processId, void* context), void* context);

#endif
