/*
** What the message loops let through: timer messages only as the timer that
** made them, no posted WM_QUIT or WM_DESTROY, commands only for controls a
** click could reach, and a title window only of this program's own copy.
*/
#include "ui/message_rules.h"

#include <gtest/gtest.h>
#include <tuple>

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
        {0x0100, 27, 0, T::MainWindow, false, true}, // WM_KEYDOWN: the user's Escape
        {0x0118, 100, proc, T::Other, false, true},  // WM_SYSTIMER: the system's own
        {0x000B, 0, 0, T::MainWindow, false, true}}; // the engine's notifications
    for (const auto& [message, w, l, target, set, kept] : rows)
        EXPECT_EQ(KeepsQueuedMessage(message, w, l, target, 100, set), kept)
            << std::hex << message << " " << w << " " << l << " " << static_cast<int>(target);
}

TEST(MessageRules, CommandsActOnlyForControlsAClickReaches) {
    // {id, visible, enabled, acts}: 1 and 2 are the Enter and Escape keys'
    // commands too, whatever their buttons show.
    const std::tuple<int, bool, bool, bool> rows[] = {
        {1, false, false, true},     {2, false, true, true},     {2, true, true, true},
        {3, false, true, false},     {1070, false, true, false}, {1070, true, false, false},
        {1070, true, true, true},    {1052, true, false, false}, {6, true, true, true},
        {1077, false, false, false}, {1055, false, true, false}};
    for (const auto& [id, visible, enabled, acts] : rows)
        EXPECT_EQ(CommandActs(id, visible, enabled), acts) << id << visible << enabled;
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
