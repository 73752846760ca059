/*
** simwin: message queue, window procedures and the virtual clock.
*/
#include "simwin/messages.h"

#include <deque>
#include <map>
#include <vector>

namespace {

std::deque<MSG> queue;
std::map<HWND, WNDPROC> windows;
std::vector<std::function<void(int)>> peekHooks;
int peeks = 0;
uintptr_t nextWindow = 0x10010;
uint64_t clockMs = 0;
std::vector<DWORD> sleeps;
// PostQuitMessage only raises the thread's quit flag: WM_QUIT comes out of
// the queue once no posted message is left, whenever it was asked for.
bool quitPending = false;
WPARAM quitCode = 0;

simwin::ResetHook resetMessages([] {
    queue.clear();
    windows.clear();
    peekHooks.clear();
    peeks = 0;
    nextWindow = 0x10010;
    clockMs = 0;
    sleeps.clear();
    quitPending = false;
    quitCode = 0;
});

bool InFilter(UINT m, UINT lo, UINT hi) { return (lo == 0 && hi == 0) || (m >= lo && m <= hi); }

} // namespace

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove) {
    DWORD err;
    if (simwin::Enter("PeekMessageA", &err)) return FALSE;
    ++peeks;
    auto hooks = peekHooks;
    for (auto& h : hooks)
        h(peeks);
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (hwnd && it->hwnd != hwnd) continue;
        if (!InFilter(it->message, filterMin, filterMax)) continue;
        *msg = *it;
        if (remove & PM_REMOVE) queue.erase(it);
        return TRUE;
    }
    if (quitPending && InFilter(WM_QUIT, filterMin, filterMax)) {
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = quitCode;
        msg->time = (DWORD)clockMs;
        if (remove & PM_REMOVE) quitPending = false;
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    auto it = windows.find(msg->hwnd);
    return it == windows.end() ? 0 : it->second(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD err;
    if (simwin::Enter("SendMessageA", &err)) return 0;
    auto it = windows.find(hwnd);
    return it == windows.end() ? 0 : it->second(hwnd, message, wParam, lParam);
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    simwin::PostTestMessage(hwnd, message, wParam, lParam);
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    quitPending = true;
    quitCode = (WPARAM)exitCode;
}

BOOL IsWindow(HWND hwnd) { return windows.count(hwnd) != 0; }

void Sleep(DWORD ms) {
    DWORD err;
    simwin::Enter("Sleep", &err);
    clockMs += ms;
    sleeps.push_back(ms);
}

DWORD GetTickCount() { return (DWORD)clockMs; }

namespace simwin {

HWND CreateTestWindow(WNDPROC proc) {
    HWND h = reinterpret_cast<HWND>(nextWindow);
    nextWindow += 0x10;
    windows[h] = proc;
    return h;
}

void PostTestMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = (DWORD)clockMs;
    queue.push_back(m);
}

void OnPeek(std::function<void(int)> hook) { peekHooks.push_back(std::move(hook)); }
int PeekCount() { return peeks; }
size_t QueueLength() { return queue.size(); }
uint64_t Now() { return clockMs; }
const std::vector<DWORD>& Sleeps() { return sleeps; }

} // namespace simwin
