/*
** simwin: scripted answers to AskUser and MessageBoxA.
*/
#include "simwin/dialogs.h"
#include "engine/ask_user.h"

#include <deque>

namespace {

std::deque<int> script;
std::vector<simwin::Question> asked;

simwin::ResetHook resetDialogs([] {
    script.clear();
    asked.clear();
});

int SafeAnswer(UINT style) {
    switch (style & 0xF) {
    case MB_OK:
        return IDOK;
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

} // namespace

namespace simwin {

void ScriptAnswers(const std::vector<int>& answers) {
    script.insert(script.end(), answers.begin(), answers.end());
}

const std::vector<Question>& Questions() { return asked; }

int Ask(const char* kind, const char* text, const char* title, UINT style) {
    int answer = SafeAnswer(style);
    if (!script.empty()) {
        answer = script.front();
        script.pop_front();
    }
    asked.push_back(Question{kind, text ? text : "", title ? title : "", style, answer});
    return answer;
}

} // namespace simwin

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    DWORD err;
    if (simwin::Enter("MessageBoxA", &err)) return 0;
    return simwin::Ask("MessageBoxA", text, caption, type);
}

/* On the host the program's own question dialog is the scripted one. */
int AskUser(const char* text, const char* title, UINT style) {
    DWORD err; // a call hooks may watch; it cannot fail
    simwin::Enter("AskUser", &err);
    return simwin::Ask("AskUser", text, title, style);
}
