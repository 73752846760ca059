/*
** The log list's rules (see log_rules.h).
*/
#include "ui/log_rules.h"

bool LogMustEmpty(int lineCount, bool keepLog) { return !keepLog && lineCount >= LOG_LINE_LIMIT; }

int LogSelectionAfterAppend(int lineCount) { return lineCount > 2 ? lineCount - 1 : lineCount; }

int LogHorizontalExtent(int currentExtent, int widest) {
    if (currentExtent < widest && widest > LOG_EXTENT_THRESHOLD) {
        // Widths are a few thousand pixels at most; computed wide anyway.
        return static_cast<int>(static_cast<long long>(widest) * 3 / 4);
    }
    return currentExtent;
}
