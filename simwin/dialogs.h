/*
** simwin: questions the program asks the user, answered by the test.
** Both the program's own question dialog (AskUser) and the platform's
** MessageBoxA take their answers from one script, in order, and record
** what was asked. With the script empty, the answer is the safe one:
** No for Yes/No questions, Cancel for OK/Cancel, OK for a plain box.
*/
#ifndef SIMWIN_DIALOGS_H
#define SIMWIN_DIALOGS_H

#include "simwin/base.h"
#include <string>
#include <vector>

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

namespace simwin {

struct Question {
    std::string kind; // "AskUser" or "MessageBoxA"
    std::string text;
    std::string title;
    UINT style;
    int answer;
};

/* Queues answers for the next questions, in order. */
void ScriptAnswers(const std::vector<int>& answers);
/* Every question asked since Reset. */
const std::vector<Question>& Questions();
/* Used by the host's AskUser and by MessageBoxA. */
int Ask(const char* kind, const char* text, const char* title, UINT style);

} // namespace simwin

#endif
