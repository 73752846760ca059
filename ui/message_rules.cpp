/*
** What the message loops let through: the queue filter's, the dialogs' and
** the single-instance test's rules.
*/
#include "ui/message_rules.h"

#include <string.h>

bool KeepsQueuedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, QueueTarget target,
                        uintptr_t scanTimerId, bool scanTimerSet) {
    switch (message) {
    case QUEUED_TIMER:
        if (lParam != 0 || target == QueueTarget::Thread) return false;
        if (target == QueueTarget::MainWindow) return wParam == scanTimerId && scanTimerSet;
        return true;
    case QUEUED_QUIT:
    case QUEUED_DESTROY:
        return false;
    default:
        return true;
    }
}

bool CommandActs(int id, bool visible, bool enabled) {
    if (id == 1 || id == 2) return true;
    return visible && enabled;
}

bool IsRunningCopy(const char* windowClass, bool sameImage) {
    return windowClass && strcmp(windowClass, "#32770") == 0 && sameImage;
}
