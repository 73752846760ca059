/*
** The directory walk: order, counting, display form, stopping, the Program
** Files flags, memory-scan mode and paths that do not fit.
*/
#include "engine/walk.h"
#include "world.h"

class WalkTest : public WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        AttachWindow();
    }
    /* Posts an Escape key-down when the n-th pump runs. */
    void EscapeAtPump(int n) {
        simwin::OnPeek([n](int count) {
            if (count == n) simwin::PostTestMessage(g_scan.mainWindow, WM_KEYDOWN, VK_ESCAPE);
        });
    }
};

TEST_F(WalkTest, ShowsEveryEntryInListingOrderAndCountsOnlyFiles) {
    simwin::WriteFile("C:\\dir\\a.txt", "a");
    simwin::WriteFile("C:\\dir\\sub\\b.txt", "b");
    EXPECT_EQ(WalkDirectory("C:\\dir\\*.*"), 2);
    EXPECT_EQ(statuses_, (std::vector<std::string>{"C:\\dir\\.", "C:\\dir\\..", "C:\\dir\\a.txt",
                                                   "C:\\dir\\sub", "C:\\dir\\sub\\.",
                                                   "C:\\dir\\sub\\..", "C:\\dir\\sub\\b.txt"}));
    EXPECT_EQ(g_scan.filesScanned, 2);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    // about two pumps per entry: files first, then one per subdirectory entry
    EXPECT_GE(simwin::PeekCount(), 14);
}

TEST_F(WalkTest, FilesOfAFolderComeBeforeItsSubfolders) {
    simwin::WriteFile("C:\\d\\a\\x.txt", "");
    simwin::WriteFile("C:\\d\\z.txt", "");
    WalkDirectory("C:\\d\\*.*");
    auto z = std::find(statuses_.begin(), statuses_.end(), "C:\\d\\z.txt");
    auto x = std::find(statuses_.begin(), statuses_.end(), "C:\\d\\a\\x.txt");
    ASSERT_NE(z, statuses_.end());
    ASSERT_NE(x, statuses_.end());
    EXPECT_LT(z, x);
}

TEST_F(WalkTest, ShortenPathKeepsBothEnds) {
    char out[512];
    std::string p61(61, 'x');
    p61[0] = 'A';
    p61[60] = 'Z';
    ShortenPath(p61.c_str(), out, 60);
    EXPECT_EQ(std::string(out), "A" + std::string(28, 'x') + ".." + std::string(28, 'x') + "Z");
    EXPECT_EQ(strlen(out), 60u);
    std::string p60(60, 'y');
    ShortenPath(p60.c_str(), out, 60);
    EXPECT_EQ(std::string(out), p60);
    ShortenPath("abcdefghij", out, 7); // k = 2, three dots
    EXPECT_EQ(std::string(out), "ab...ij");
    ShortenPath("abcdefghij", out, 3); // k = 0: copied whole
    EXPECT_EQ(std::string(out), "abcdefghij");
}

TEST_F(WalkTest, PathsLongerThan60AreShownByTheirTwoEnds) {
    const std::string dir = "C:\\" + std::string(52, 'd'); // 55 characters
    simwin::WriteFile(dir + "\\ab.t", "");                 // 60: shown whole
    simwin::WriteFile(dir + "\\abc.t", "");                // 61: 29 + ".." + 29
    WalkDirectory((dir + "\\*.*").c_str());
    EXPECT_EQ(statuses_,
              (std::vector<std::string>{dir + "\\.", dir + "\\..", dir + "\\ab.t",
                                        dir.substr(0, 29) + ".." + dir.substr(32) + "\\abc.t"}));
}

TEST_F(WalkTest, EscapeAsksAndNoGoesOnWhileYesStops) {
    for (int i = 0; i < 5; i++)
        simwin::WriteFile("C:\\d\\f" + std::to_string(i), "");
    EscapeAtPump(3);
    simwin::ScriptAnswers({IDNO});
    EXPECT_EQ(WalkDirectory("C:\\d\\*.*"), 5);
    ASSERT_EQ(simwin::Questions().size(), 1u);
    EXPECT_EQ(simwin::Questions()[0].text, "Terminate the Scan now?");
    EXPECT_EQ(simwin::Questions()[0].title, "CleanPhantaxis Ver 1.0");
    EXPECT_EQ(simwin::Questions()[0].style, 36u);
    EXPECT_FALSE(g_scan.stopRequested);

    statuses_.clear();
    g_scan.filesScanned = 0;
    EscapeAtPump(simwin::PeekCount() + 4); // during the second entry's pumps
    simwin::ScriptAnswers({IDYES});
    EXPECT_EQ(WalkDirectory("C:\\d\\*.*"), 0);
    EXPECT_TRUE(g_scan.stopRequested);
    EXPECT_EQ(statuses_.size(), 2u);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(WalkTest, AStopInADeepFolderUnwindsEveryLevel) {
    simwin::WriteFile("C:\\a\\b\\c\\deep.txt", "");
    simwin::WriteFile("C:\\a\\later\\x.txt", "");
    simwin::OnCall("FindFirstFileA", [] {
        if (simwin::CallCount("FindFirstFileA") == 5) // the file phase of C:\a\b\c
            simwin::PostTestMessage(nullptr, WM_QUIT);
    });
    EXPECT_EQ(WalkDirectory("C:\\a\\*.*"), 0);
    for (auto& s : statuses_)
        EXPECT_EQ(s.find("later\\x.txt"), std::string::npos);
    EXPECT_EQ(g_scan.filesScanned, 0);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    EXPECT_TRUE(simwin::Questions().empty());
}

TEST_F(WalkTest, AStopAtAnyPumpOpensNoFolderAndShowsNothingMore) {
    simwin::WriteFile("C:\\d\\f1.txt", "");
    simwin::WriteFile("C:\\d\\a\\x.txt", "");
    simwin::MakeDir("C:\\d\\b");
    bool openedAfterStop = false;
    simwin::OnCall("FindFirstFileA", [&] { openedAfterStop |= g_scan.stopRequested; });
    WalkDirectory("C:\\d\\*.*");
    const int pumps = simwin::PeekCount();
    ASSERT_GT(pumps, 10);
    size_t shown = 0; // statuses shown when the stop came
    for (int n = 1; n <= pumps; n++) {
        SCOPED_TRACE("stop at pump " + std::to_string(n));
        g_scan.stopRequested = false;
        const int stopAt = simwin::PeekCount() + n;
        simwin::OnPeek([stopAt, &shown](int count) {
            if (count == stopAt) {
                simwin::PostTestMessage(nullptr, WM_QUIT);
                shown = statuses_.size();
            }
        });
        EXPECT_EQ(WalkDirectory("C:\\d\\*.*"), 0);
        EXPECT_TRUE(g_scan.stopRequested);
        EXPECT_EQ(statuses_.size(), shown);
        EXPECT_FALSE(openedAfterStop);
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    }
}

TEST_F(WalkTest, QuitAndDestroyStopOtherMessagesAreDispatched) {
    static std::vector<UINT> seen;
    seen.clear();
    HWND other = simwin::CreateTestWindow([](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        seen.push_back(m);
        return 0;
    });
    simwin::PostTestMessage(other, WM_USER + 5);
    simwin::PostTestMessage(other, WM_USER + 6);
    PumpMessages(); // at most one message per call
    EXPECT_EQ(seen, std::vector<UINT>{WM_USER + 5});
    PumpMessages();
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 5, WM_USER + 6}));
    EXPECT_FALSE(g_scan.stopRequested);
    PumpMessages(); // empty queue: nothing happens
    EXPECT_FALSE(g_scan.stopRequested);
    seen.clear();
    simwin::PostTestMessage(other, WM_DESTROY);
    PumpMessages();
    EXPECT_TRUE(g_scan.stopRequested);
    EXPECT_TRUE(seen.empty()); // not dispatched
    g_scan.stopRequested = false;
    simwin::PostTestMessage(nullptr, WM_QUIT);
    PumpMessages();
    EXPECT_TRUE(g_scan.stopRequested);
    // any message whose wParam carries 27 counts as Escape, and any answer
    // but No (here Cancel, as when the question is closed) stops
    g_scan.stopRequested = false;
    simwin::PostTestMessage(other, WM_TIMER, 0x1001B);
    simwin::ScriptAnswers({IDCANCEL});
    PumpMessages();
    EXPECT_TRUE(g_scan.stopRequested);
    EXPECT_EQ(simwin::Questions().size(), 1u);
    EXPECT_TRUE(seen.empty());
}

TEST_F(WalkTest, DriveRootNotesItsProgramFilesFolder) {
    MapDrive('D');
    simwin::MakeDir("C:\\Program Files\\App");
    WalkDirectory("C:\\*.*");
    EXPECT_EQ(g_scan.programFilesPending, 1);
    EXPECT_STREQ(g_scan.programFilesPattern, "C:\\Program Files\\*.*");
    EXPECT_EQ(g_scan.programFilesVisited, 1);

    g_scan.programFilesVisited = 0;
    WalkDirectory("D:\\*.*"); // no such folder: the flag keeps its value
    EXPECT_EQ(g_scan.programFilesPending, 1);
    EXPECT_EQ(g_scan.programFilesVisited, 0);

    // a listing spelled otherwise is entered but not counted as visited
    MapDrive('E');
    simwin::MakeDir("E:\\PROGRAM FILES");
    g_scan.programFilesPending = 0;
    WalkDirectory("E:\\*.*");
    EXPECT_EQ(g_scan.programFilesPending, 1);
    EXPECT_EQ(g_scan.programFilesVisited, 0);
    EXPECT_STREQ(g_scan.programFilesPattern, "E:\\Program Files\\*.*");
}

TEST_F(WalkTest, PatternWithoutDotEndsWithMinusOne) {
    simwin::WriteFile("C:\\d\\f", "");
    EXPECT_EQ(WalkDirectory("C:\\d\\*"), -1);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    EXPECT_EQ(WalkDirectory("C:\\nothing\\*"), -1);
}

TEST_F(WalkTest, MemoryScanModeShowsOneFileWithoutCountingIt) {
    simwin::WriteFile("C:\\W\\abc.exe", "MZ");
    simwin::WriteFile("C:\\W\\abc.d\\inner.exe", "MZ");
    g_scan.memoryScanMode = true;
    g_scan.filesScanned = 7;
    g_scan.fileMatched = true;
    EXPECT_EQ(WalkDirectory("C:\\W\\abc.exe"), 7);
    EXPECT_FALSE(g_scan.fileMatched);
    EXPECT_EQ(statuses_, std::vector<std::string>{"C:\\W\\abc.exe"});
    EXPECT_EQ(g_scan.filesScanned, 7);
}

TEST_F(WalkTest, PathsThatDoNotFitArePassedOverWithoutCounting) {
    std::string deep = "C:\\" + std::string(200, 'a');
    simwin::WriteFile(deep + "\\" + std::string(50, 'b'), "");         // 254 characters: fits
    simwin::WriteFile(deep + "\\" + std::string(60, 'c'), "");         // 264: does not
    simwin::WriteFile(deep + "\\" + std::string(55, 'e') + "\\x", ""); // pattern too long
    std::string name255(255, 'n');
    simwin::WriteFile("C:\\" + name255, ""); // "C:\" + 255 = 258: fits
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 2);
    for (auto& s : statuses_)
        EXPECT_LE(s.size(), 60u);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    EXPECT_EQ(WalkDirectory(("C:\\" + std::string(300, 'p') + "\\*.*").c_str()), 2);
}
