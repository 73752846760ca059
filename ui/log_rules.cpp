/*
** The log list's rules (see log_rules.h).
*/
#include "ui/log_rules.h"

#include <climits>

bool LogMustEmpty(int lineCount, bool keepLog) { return !keepLog && lineCount >= LOG_LINE_LIMIT; }

int LogSelectionAfterAppend(int lineCount) { return lineCount > 2 ? lineCount - 1 : lineCount; }

int LogHorizontalExtent(int currentExtent, int widest, int clientWidth) {
    // Widths are a few thousand pixels at most; computed wide anyway.
    long long needed = static_cast<long long>(widest) + LOG_EXTENT_MARGIN;
    if (needed > INT_MAX) needed = INT_MAX;
    if (needed <= clientWidth || needed <= currentExtent) return currentExtent;
    return static_cast<int>(needed);
}
