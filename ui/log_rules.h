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

/* Pixels of room past the end of the widest line when it is scrolled fully
   into view (the list draws its lines a pixel or two in from its edge). */
#define LOG_EXTENT_MARGIN 8

/* True when the list must be emptied before the next line is added. */
bool LogMustEmpty(int lineCount, bool keepLog);

/* The index to select after an append that left `lineCount` lines: the last
   line from the third line on; for one or two lines the index one past the
   end, which selects nothing. */
int LogSelectionAfterAppend(int lineCount);

/* The new horizontal extent for a list whose widest line measures `widest`
   pixels (in the list's own font, tabs expanded as the list expands them)
   and whose client area is `clientWidth` pixels wide: the line's width plus
   the margin, when that does not fit the client area and is more than the
   current extent; else the current extent unchanged. The extent never
   shrinks, so a line once readable to its end stays so. */
int LogHorizontalExtent(int currentExtent, int widest, int clientWidth);

#endif
