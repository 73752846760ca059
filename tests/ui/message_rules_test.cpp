/*
** What the message loops let through: timer messages only as the timer that
** made them, no posted WM_QUIT or WM_DESTROY, none of the messages only the
** program gives its windows from another program, commands only for
** controls a click could reach, and a title window only of this program's
** own copy, looked for at a bounded cost.
*/
#include "ui/message_rules.h"

#include <gtest/gtest.h>
#include <tuple>
#include <vector>

TEST(MessageRules, QueuedMessagesPassOnlyAsTheirMakerGaveThem) {
    // {message, wParam, lParam, target, scan timer set, kept}
    using T = QueueTarget;
    const intptr_t proc = 0x7FF612340000; // any address: a timer procedure to call
    const std::tuple<uint32_t, uintptr_t, intptr_t, T, bool, bool> rows[] = {
        {QUEUED_TIMER, 100, 0, T::MainWindow, true, true},     // the scan timer
        {QUEUED_TIMER, 100, 0, T::MainWindow, false, false},   // once the run began
        {QUEUED_TIMER, 100, proc, T::MainWindow, true, false}, // a procedure to call
        {QUEUED_TIMER, 7, 0, T::MainWindow, true, false},      // no timer of the window
        {QUEUED_TIMER, 7, proc, T::Other, false, false},       // a question, a control
        {QUEUED_TIMER, 2, 0, T::Other, false, true},           // a list's own scrolling
        {QUEUED_TIMER, 100, 0, T::Thread, true, false},        // no thread timers
        {QUEUED_QUIT, 0, 0, T::Thread, false, false},
        {QUEUED_QUIT, 0, 0, T::MainWindow, true, false},
        {QUEUED_DESTROY, 0, 0, T::MainWindow, false, false},
        {QUEUED_DESTROY, 0, 0, T::Other, false, false},
        {0x0100, 27, 0, T::MainWindow, false, true},   // WM_KEYDOWN: the user's Escape
        {0x0118, 100, proc, T::Other, false, false},   // WM_SYSTIMER with a procedure
        {0x0118, 0xFFFF, 0, T::Other, false, true},    // WM_SYSTIMER: the caret's own
        {0x000B, 0, 0, T::MainWindow, false, false},   // the engine sends, never posts
        {0x000A, 0, 0, T::MainWindow, false, false},   //   both notifications
        {0x0184, 0, 0, T::Other, false, false},        // LB_RESETCONTENT: a blank log
        {0x000B, 0, 0, T::Other, false, false},        // WM_SETREDRAW: a list not drawn
        {0x00F5, 0, 0, T::Other, false, true},         // BM_CLICK: what a click gives
        {0x0111, 1052, 0, T::MainWindow, false, true}, // WM_COMMAND: to CommandActs
        {0x0010, 0, 0, T::MainWindow, true, true}};    // WM_CLOSE: the question
    for (const auto& [message, w, l, target, set, kept] : rows)
        EXPECT_EQ(KeepsQueuedMessage(message, w, l, target, 100, set), kept)
            << std::hex << message << " " << w << " " << l << " " << static_cast<int>(target);
}

TEST(MessageRules, OnlyTheProgramGivesItsWindowsWhatChangesThem) {
    // {message, only the program's}: sent from another thread, refused;
    // taken from the queue, dropped. Readers and what input gives pass.
    const std::tuple<uint32_t, bool> rows[] = {
        {0x000B, true},  {0x000A, true},  // the engine's notifications
        {0x000C, true},  {0x000D, false}, // WM_SETTEXT; WM_GETTEXT reads
        {0x0180, true},  {0x0181, true},  // LB_ADDSTRING, LB_INSERTSTRING: a fake line
        {0x0182, true},  {0x0184, true},  // LB_DELETESTRING, LB_RESETCONTENT
        {0x0186, true},  {0x0194, true},  // LB_SETCURSEL, LB_SETHORIZONTALEXTENT
        {0x019A, true},  {0x01A7, true},  // LB_SETITEMDATA, LB_SETCOUNT
        {0x01B3, true},  {0x01B4, false}, // the list box range's end
        {0x0189, false}, {0x018A, false}, // LB_GETTEXT, LB_GETTEXTLEN: the driver reads
        {0x018B, false}, {0x0193, false}, // LB_GETCOUNT, LB_GETHORIZONTALEXTENT
        {0x01B2, false}, {0x017F, false}, // LB_GETLISTBOXINFO; below the range
        {0x0030, true},  {0x0080, true},  // WM_SETFONT, WM_SETICON
        {0x002B, true},  {0x0039, true},  // WM_DRAWITEM, WM_COMPAREITEM
        {0x0002, true},  {0x0082, true},  // WM_DESTROY, WM_NCDESTROY
        {0x0110, true},  {0x0401, true},  // WM_INITDIALOG, DM_SETDEFID
        {0x0028, true},  {0x0029, false}, // WM_NEXTDLGCTL: the focus on YES
        {0x00F3, true},  {0x00F4, true},  // BM_SETSTATE, BM_SETSTYLE
        {0x00F5, false}, {0x00F2, false}, // BM_CLICK is a click; BM_GETSTATE
        {0x0172, true},  {0x0173, false}, // STM_SETIMAGE; STM_GETIMAGE
        {0x0111, false}, {0x0010, false}, // WM_COMMAND, WM_CLOSE: what a click gives
        {0x0100, false}, {0x0113, false}, // WM_KEYDOWN, WM_TIMER
        {0x0000, false}};
    for (const auto& [message, only] : rows)
        EXPECT_EQ(IsProgramOnlyMessage(message), only) << std::hex << message;
}

TEST(MessageRules, AnotherThreadsSendsAreRefusedPostedBackOrRead) {
    // {message, what the window does}: no code of the program runs inside
    // another thread's send but reading and painting.
    using F = ForeignSend;
    const std::tuple<uint32_t, F> rows[] = {{0x0180, F::Refuse}, // LB_ADDSTRING
                                            {0x000B, F::Refuse}, // the log line notification
                                            {0x0110, F::Refuse}, // WM_INITDIALOG
                                            {0x0111, F::Repost}, // WM_COMMAND
                                            {0x0010, F::Repost}, // WM_CLOSE
                                            {0x0112, F::Repost}, // WM_SYSCOMMAND
                                            {0x00F5, F::Repost}, // BM_CLICK
                                            {0x0113, F::Repost}, // WM_TIMER
                                            {0x0118, F::Repost}, // WM_SYSTIMER
                                            {0x0100, F::Repost}, // WM_KEYDOWN
                                            {0x0109, F::Repost}, // WM_UNICHAR, the keys' last
                                            {0x0201, F::Repost}, // WM_LBUTTONDOWN
                                            {0x020E, F::Repost}, // WM_MOUSEHWHEEL, the mouse's last
                                            {0x00A1, F::Repost}, // WM_NCLBUTTONDOWN: a drag
                                            {0x007B, F::Repost}, // WM_CONTEXTMENU
                                            {0x000D, F::Handle}, // WM_GETTEXT
                                            {0x0189, F::Handle}, // LB_GETTEXT
                                            {0x000F, F::Handle}, // WM_PAINT
                                            {0x0114, F::Handle}, // WM_HSCROLL
                                            {0x0031, F::Handle}, // WM_GETFONT
                                            {0x0011, F::Handle}, // WM_QUERYENDSESSION
                                            {0x020F, F::Handle}, {0x009F, F::Handle},
                                            {0x010A, F::Handle}}; // past each range
    for (const auto& [message, foreign] : rows)
        EXPECT_EQ(ForeignSentMessage(message), foreign) << std::hex << message;
}

TEST(MessageRules, CommandsActOnlyForControlsAClickReaches) {
    // {id, shown, enabled, on top, acts}: shown and enabled as the program
    // set them; 1 and 2 are the Enter and Escape keys' commands too, whatever
    // their buttons show, and reach a dialog under a question too.
    const std::tuple<int, bool, bool, bool, bool> rows[] = {
        {1, false, false, true, true},    {2, false, true, true, true},
        {2, true, true, false, true},     {3, false, true, true, false},
        {1070, false, true, true, false}, {1070, true, false, true, false},
        {1070, true, true, true, true},   {1052, true, false, true, false},
        {6, true, true, true, true},      {1077, false, false, true, false},
        {1055, false, true, true, false}, {1054, true, true, false, false},
        {1080, true, true, false, false}};
    for (const auto& [id, shown, enabled, onTop, acts] : rows)
        EXPECT_EQ(CommandActs(id, shown, enabled, onTop), acts) << id << shown << enabled << onTop;
}

TEST(MessageRules, OnlyTheProgramsOwnDialogKeepsACopyFromStarting) {
    // A window titled "CleanPhantaxis Ver 1.0": its class and whether its
    // process runs this program's image file.
    EXPECT_TRUE(IsRunningCopy("#32770", true));   // the main window or a question
    EXPECT_FALSE(IsRunningCopy("#32770", false)); // another program's dialog
    EXPECT_FALSE(IsRunningCopy("Notepad", true)); // no window this program makes
    EXPECT_FALSE(IsRunningCopy("#327700", true));
    EXPECT_FALSE(IsRunningCopy("", true));
    EXPECT_FALSE(IsRunningCopy(nullptr, true));
}

namespace {

/* The dialogs bearing the title, by their processes, and which process runs
   the program's image; counts the proofs made. */
struct TitleWindows {
    std::vector<uint32_t> processes;
    uint32_t copy = 0;
    size_t next = 0;
    int proofs = 0;
};

uint32_t NextProcess(void* context) {
    TitleWindows* w = static_cast<TitleWindows*>(context);
    return w->next < w->processes.size() ? w->processes[w->next++] : 0;
}

bool ProvesCopy(uint32_t processId, void* context) {
    TitleWindows* w = static_cast<TitleWindows*>(context);
    w->proofs++;
    return processId == w->copy;
}

} // namespace

TEST(MessageRules, TheCopySearchProvesEachProcessOnceAndFewOfThem) {
    // {windows' processes, the copy's, found, proofs made}
    const int cap = COPY_PROCESSES_PROVED;
    std::vector<uint32_t> decoys(1000, 7); // one program's thousand dialogs
    std::vector<uint32_t> many;            // one dialog each of many programs
    for (uint32_t p = 100; p < 100 + 20; p++)
        many.push_back(p);
    std::vector<uint32_t> manyThenCopy = many, decoysThenCopy = decoys;
    manyThenCopy.push_back(42);
    decoysThenCopy.push_back(42);
    std::vector<uint32_t> justUnderCap(many.begin(), many.begin() + cap - 1);
    justUnderCap.push_back(42);
    const std::tuple<std::vector<uint32_t>, uint32_t, bool, int> rows[] = {
        {{42}, 42, true, 1},            // the program's own copy
        {{}, 42, false, 0},             // no window bears the title
        {decoys, 42, false, 1},         // one process, proved once
        {decoysThenCopy, 42, true, 2},  // and the copy behind its windows
        {{42, 42, 7}, 42, true, 1},     // the first proof ends the search
        {many, 42, false, cap},         // no more than the cap's proofs
        {manyThenCopy, 42, false, cap}, // fail open: the program starts
        {justUnderCap, 42, true, cap}}; // the last proof still counts
    for (const auto& [processes, copy, found, proofs] : rows) {
        TitleWindows w;
        w.processes = processes;
        w.copy = copy;
        EXPECT_EQ(FindRunningCopy(&NextProcess, &ProvesCopy, &w), found) << processes.size();
        EXPECT_EQ(w.proofs, proofs) << processes.size();
    }
}
