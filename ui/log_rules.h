/*
** The log list's rules, kept free of Windows headers so that the host tests
** can pin them: when the list empties itself, which line is selected after an
** append, and how its horizontal scroll extent follows the widest line.
*/
#ifndef CLEANPHANTAXIS_LOG_RULES_H
#define CLEANPHANTAXIS_LOG_RULES_H

/* The list is emptied before an append once it holds this many lines, until
   the scan run sets keepLog for its statistics. */
#define LOG_LINE_LIMIT 150

/* Lines narrower than this many measured pixels never widen the extent. */
#define LOG_EXTENT_THRESHOLD 560

/* True when the list must be emptied before the next line is added. */
bool LogMustEmpty(int lineCount, bool keepLog);

/* The index to select after an append that left `lineCount` lines: the last
   line from the third line on; for one or two lines the index one past the
   end, which selects nothing. */
int LogSelectionAfterAppend(int lineCount);

/* The new horizontal extent for a list whose widest line measures `widest`
   pixels: three quarters of it when it is wider than the threshold and the
   current extent is smaller than it; else the current extent unchanged. */
int LogHorizontalExtent(int currentExtent, int widest);

#endif
