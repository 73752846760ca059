/*
** The program's modal question: the window's own dialog on Windows, the
** test's script on the host. Returns the button codes of MessageBox:
** IDYES 6, IDNO 7, IDOK 1, IDCANCEL 2.
*/
#ifndef CLEANPHANTAXIS_ASK_USER_H
#define CLEANPHANTAXIS_ASK_USER_H

#include "platform/win32.h"

int AskUser(const char* text, const char* title, UINT style);

#endif
