/*
** simwin: the thread's message queue and windows, and the virtual clock.
** A test registers window procedures, posts messages, and may add messages
** at a chosen pump (OnPeek). Sleep advances the clock without waiting.
*/
#ifndef SIMWIN_MESSAGES_H
#define SIMWIN_MESSAGES_H

#include "simwin/base.h"
#include <functional>

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL IsWindow(HWND hwnd);

void Sleep(DWORD milliseconds);
DWORD GetTickCount();

namespace simwin {

/* A window whose messages go to `proc`. */
HWND CreateTestWindow(WNDPROC proc);
/* Adds a message to the end of the queue. */
void PostTestMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
/* Runs `hook(n)` at the start of the n-th PeekMessageA call (n from 1). */
void OnPeek(std::function<void(int)> hook);
int PeekCount();
size_t QueueLength();

/* Virtual milliseconds since Reset, and every Sleep in order. */
uint64_t Now();
const std::vector<DWORD>& Sleeps();

} // namespace simwin

#endif
