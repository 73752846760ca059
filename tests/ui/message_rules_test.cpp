/*
** What the message loops let through: timer messages only as the timer that
** made them, no posted WM_QUIT or WM_DESTROY, nothing only the program gives
** from another, commands only for controls a click could reach, and a title
** window only of this program's own copy, looked for at a bounded cost.
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
        {0x0184, 0, 0, T::Other, false, false},        // LB_RESETCONTENT: a blank log
        {0x000B, 0, 0, T::Other, false, false},        // WM_SETREDRAW: a list not drawn
        {0x00F5, 0, 0, T::Other, false, true},         // BM_CLICK: what a click gives
        {0x0111, 1052, 0, T::MainWindow, false, true}, // WM_COMMAND: to CommandActs
        {0x0010, 0, 0, T::MainWindow, true, true}};    // WM_CLOSE: the question
    for (const auto& [message, w, l, target, set, kept] : rows)
        EXPECT_EQ(KeepsQueuedMessage(message, w, l, target, 100, set), kept)
            << std::hex << message << " " << w << " " << l << " " << static_cast<int>(target);
}

TEST(MessageRules, AnotherThreadsMessagesAreRefusedPostedBackOrRead) {
    // {message, what a window does with it sent by another thread}: Refuse
    // is what only the program gives (posted, it is dropped too); no code of
    // the program runs inside another thread's send but reading and painting.
    // In order: notifications, texts; the list box's writers, range ends and
    // readers; fonts; owner drawing, destroying, dialog messages; buttons'
    // and statics'; commands, timers; the input ranges' ends; the rest.
    using F = ForeignSend;
    const F R = F::Refuse, P = F::Repost, H = F::Handle;
    const std::tuple<uint32_t, F> rows[] = {
        {0x000B, R}, {0x000A, R}, {0x000C, R}, {0x000D, H}, {0x0180, R}, {0x0181, R}, {0x0182, R},
        {0x0184, R}, {0x0186, R}, {0x0194, R}, {0x019A, R}, {0x01A7, R}, {0x01B3, R}, {0x01B4, H},
        {0x017F, H}, {0x0189, H}, {0x018A, H}, {0x018B, H}, {0x0193, H}, {0x01B2, H}, {0x0030, R},
        {0x0080, R}, {0x0031, H}, {0x002B, R}, {0x0039, R}, {0x0002, R}, {0x0082, R}, {0x0110, R},
        {0x0401, R}, {0x0028, R}, {0x0029, H}, {0x00F3, R}, {0x00F4, R}, {0x00F2, H}, {0x0172, R},
        {0x0173, H}, {0x00F5, P}, {0x0111, P}, {0x0010, P}, {0x0112, P}, {0x0113, P}, {0x0118, P},
        {0x007B, P}, {0x0100, P}, {0x0109, P}, {0x010A, H}, {0x0200, P}, {0x020E, P}, {0x020F, H},
        {0x00A0, P}, {0x00AD, P}, {0x009F, H}, {0x000F, H}, {0x0114, H}, {0x0011, H}, {0x0000, H}};
    for (const auto& [message, foreign] : rows) {
        EXPECT_EQ(ForeignSentMessage(message), foreign) << std::hex << message;
        EXPECT_EQ(IsProgramOnlyMessage(message), foreign == R) << std::hex << message;
    }
}

TEST(MessageRules, CommandsActOnlyForControlsAClickReaches) {
    // {id, shown, enabled (as the program set them), on top, acts}: 1 and 2 are
    // the Enter and Escape keys' commands too, whatever the buttons show.
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

/* The dialogs bearing the title, by their processes; the proofs made. */
struct TitleWindows {
    std::vector<uint32_t> processes;
    size_t next = 0;
    int proofs = 0;
};

TEST(MessageRules, TheCopySearchProvesEachProcessOnceAndFewOfThem) {
    const int cap = COPY_PROCESSES_PROVED;
    std::vector<uint32_t> decoys(1000, 7), many; // one program's thousand dialogs; many programs'
    for (uint32_t p = 100; p < 120; p++)
        many.push_back(p);
    auto then = [](std::vector<uint32_t> v, uint32_t p) { return v.push_back(p), v; };
    const std::vector<uint32_t> underCap(many.begin(), many.begin() + cap - 1);
    // {windows' processes, found, proofs}: past the cap the program starts (fails open)
    const std::tuple<std::vector<uint32_t>, bool, int> rows[] = {{{42}, true, 1},
                                                                 {{}, false, 0},
                                                                 {decoys, false, 1},
                                                                 {then(decoys, 42), true, 2},
                                                                 {{42, 42, 7}, true, 1},
                                                                 {many, false, cap},
                                                                 {then(many, 42), false, cap},
                                                                 {then(underCap, 42), true, cap}};
    auto next = [](void* c) -> uint32_t {
        TitleWindows* w = static_cast<TitleWindows*>(c);
        return w->next < w->processes.size() ? w->processes[w->next++] : 0;
    };
    auto proves = [](uint32_t processId, void* c) { // the copy runs as process 42
        return ++static_cast<TitleWindows*>(c)->proofs, processId == 42;
    };
    for (const auto& [processes, found, proofs] : rows) {
        TitleWindows w;
        w.processes = processes;
        EXPECT_EQ(FindRunningCopy(next, proves, &w), found) << processes.size();
        EXPECT_EQ(w.proofs, proofs) << processes.size();
    }
}
