/*
** What the message loops let through: the queue filter's, the dialogs' and
** the single-instance test's rules.
*/
#include "ui/message_rules.h"

#include <string.h>

bool IsProgramOnlyMessage(uint32_t message) {
    switch (message) {
    case 0x0002: // WM_DESTROY
    case 0x000A: // WM_ENABLE, the engine's status notification
    case 0x000B: // WM_SETREDRAW, the engine's log line notification
    case 0x000C: // WM_SETTEXT
    case 0x0028: // WM_NEXTDLGCTL: the focus, which Space or Enter then presses
    case 0x002B: // WM_DRAWITEM
    case 0x002C: // WM_MEASUREITEM
    case 0x002D: // WM_DELETEITEM
    case 0x0030: // WM_SETFONT
    case 0x0039: // WM_COMPAREITEM
    case 0x0080: // WM_SETICON
    case 0x0082: // WM_NCDESTROY
    case 0x0110: // WM_INITDIALOG
    case 0x0401: // DM_SETDEFID
    case 0x00F1: // BM_SETCHECK
    case 0x00F3: // BM_SETSTATE
    case 0x00F4: // BM_SETSTYLE
    case 0x00F7: // BM_SETIMAGE
    case 0x00F8: // BM_SETDONTCLICK
    case 0x0170: // STM_SETICON
    case 0x0172: // STM_SETIMAGE
        return true;
    default:
        break;
    }
    if (message < 0x0180 || message > 0x01B3) return false; // not a list box message
    switch (message) {
    case 0x0187:      // LB_GETSEL
    case 0x0188:      // LB_GETCURSEL
    case 0x0189:      // LB_GETTEXT
    case 0x018A:      // LB_GETTEXTLEN
    case 0x018B:      // LB_GETCOUNT
    case 0x018E:      // LB_GETTOPINDEX
    case 0x018F:      // LB_FINDSTRING
    case 0x0190:      // LB_GETSELCOUNT
    case 0x0191:      // LB_GETSELITEMS
    case 0x0193:      // LB_GETHORIZONTALEXTENT
    case 0x0198:      // LB_GETITEMRECT
    case 0x0199:      // LB_GETITEMDATA
    case 0x019D:      // LB_GETANCHORINDEX
    case 0x019F:      // LB_GETCARETINDEX
    case 0x01A1:      // LB_GETITEMHEIGHT
    case 0x01A2:      // LB_FINDSTRINGEXACT
    case 0x01A6:      // LB_GETLOCALE
    case 0x01A9:      // LB_ITEMFROMPOINT
    case 0x01B2:      // LB_GETLISTBOXINFO
        return false; // they only read
    default:
        return true; // LB_ADDSTRING, LB_RESETCONTENT, LB_SETCURSEL, ... and any unknown
    }
}

ForeignSend ForeignSentMessage(uint32_t message) {
    if (IsProgramOnlyMessage(message)) return ForeignSend::Refuse;
    switch (message) {
    case 0x0010: // WM_CLOSE
    case 0x007B: // WM_CONTEXTMENU
    case 0x00F5: // BM_CLICK
    case 0x0111: // WM_COMMAND
    case 0x0112: // WM_SYSCOMMAND
    case 0x0113: // WM_TIMER
    case 0x0118: // WM_SYSTIMER
        return ForeignSend::Repost;
    default:
        break;
    }
    const bool keys = message >= 0x0100 && message <= 0x0109;       // WM_KEYDOWN..WM_UNICHAR
    const bool mouse = message >= 0x0200 && message <= 0x020E;      // WM_MOUSEMOVE..WM_MOUSEHWHEEL
    const bool frameMouse = message >= 0x00A0 && message <= 0x00AD; // WM_NCMOUSEMOVE..
    return keys || mouse || frameMouse ? ForeignSend::Repost : ForeignSend::Handle;
}

bool KeepsQueuedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, QueueTarget target,
                        uintptr_t scanTimerId, bool scanTimerSet) {
    switch (message) {
    case QUEUED_TIMER:
        if (lParam != 0 || target == QueueTarget::Thread) return false;
        if (target == QueueTarget::MainWindow) return wParam == scanTimerId && scanTimerSet;
        return true;
    case QUEUED_SYSTIMER:
        return lParam == 0;
    case QUEUED_QUIT:
        return false;
    default:
        return !IsProgramOnlyMessage(message);
    }
}

bool CommandActs(int id, bool shown, bool enabled, bool onTop) {
    if (id == 1 || id == 2) return true;
    return shown && enabled && onTop;
}

bool IsRunningCopy(const char* windowClass, bool sameImage) {
    return windowClass && strcmp(windowClass, "#32770") == 0 && sameImage;
}

bool FindRunningCopy(uint32_t (*nextProcess)(void*), bool (*runsOwnImage)(uint32_t, void*),
                     void* context) {
    uint32_t proved[COPY_PROCESSES_PROVED];
    int count = 0;
    for (uint32_t processId; (processId = nextProcess(context)) != 0;) {
        bool seen = false;
        for (int i = 0; i < count && !seen; i++)
            seen = proved[i] == processId;
        if (seen) continue;
        if (count == COPY_PROCESSES_PROVED) return false;
        proved[count++] = processId;
        if (runsOwnImage(processId, context)) return true;
    }
    return false;
}
