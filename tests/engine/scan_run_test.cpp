/*
** The scan run: which drives are walked, the statistics block, the final
** status, the deferred Program Files walk and the restart question.
*/
#include "engine/file_check.h"
#include "engine/scan_run.h"
#include "engine/walk.h"
#include "world.h"

#include <filesystem>

class ScanRunTest : public WorldTest {
  protected:
    void Furnish() override { PrepareRemoval("!:"); }
    /* The closing block, after the lines `before`. */
    static std::vector<std::string> Statistics(int scanned, int infected, int removed,
                                               std::vector<std::string> before = {}) {
        before.insert(before.end(), {"Scanning statistics", "------------------------------",
                                     "Total files scanned\t\t:  " + std::to_string(scanned),
                                     "Total files infected\t\t:  " + std::to_string(infected),
                                     "Total files removed\t\t:  " + std::to_string(removed)});
        return before;
    }
};

TEST_F(ScanRunTest, WalksOnlyFixedDrivesFromCToZ) {
    const std::pair<char, UINT> drives[] = {{'A', DRIVE_REMOVABLE},
                                            {'C', 0},
                                            {'D', DRIVE_CDROM},
                                            {'E', DRIVE_FIXED},
                                            {'N', DRIVE_REMOTE}};
    for (const auto& [letter, type] : drives) {
        if (type) MapDrive(letter, type);
        simwin::WriteFile(std::string(1, letter) + ":\\" + (char)tolower(letter) + ".txt", "");
    }
    EXPECT_EQ(RunScan(), 1);
    std::vector<std::string> expected;
    for (char c = 'C'; c <= 'Z'; c++)
        expected.push_back(std::string(1, c) + ":\\");
    EXPECT_EQ(simwin::DriveQueries(), expected);
    EXPECT_EQ(g_scan.filesScanned, 2);
    EXPECT_EQ(std::vector<std::string>(statuses_.begin(), statuses_.end() - 1),
              (std::vector<std::string>{"C:\\c.txt", "E:\\e.txt"}));
    EXPECT_EQ(lines_, Statistics(2, 0, 0));
    EXPECT_EQ(statuses_.back(), "Scanning completed");
    EXPECT_STREQ(g_scan.statusText, "Scanning completed");
    EXPECT_TRUE(g_scan.keepLog);
    EXPECT_TRUE(simwin::Questions().empty());
}

TEST_F(ScanRunTest, InfectionsPutASingleSpaceLineBeforeTheStatistics) {
    // Counters run from program start: the memory scan may have counted
    // already. None of the infected files could be removed.
    g_scan.filesInfected = 3;
    // The log list must keep every line of the closing block.
    static bool keptForEveryLine;
    keptForEveryLine = true;
    g_scan.mainWindow = simwin::CreateTestWindow([](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_SCAN_LOGLINE) {
            lines_.push_back(g_scan.lineBuffer);
            keptForEveryLine = keptForEveryLine && g_scan.keepLog;
        }
        return 0;
    });
    RunScan();
    EXPECT_EQ(lines_, Statistics(0, 3, 0, {" "}));
    EXPECT_TRUE(keptForEveryLine);
}

TEST_F(ScanRunTest, AStopStillVisitsLaterDrivesButShowsNothingThere) {
    MapDrive('E');
    for (int i = 0; i < 4; i++)
        simwin::WriteFile("C:\\f" + std::to_string(i), "");
    simwin::WriteFile("E:\\e.txt", "");
    simwin::OnPeek([](int n) {
        if (n == 3) simwin::PostTestMessage(g_scan.mainWindow, WM_KEYDOWN, VK_ESCAPE);
    });
    simwin::ScriptAnswers({IDYES});
    RunScan();
    EXPECT_TRUE(g_scan.stopRequested);
    EXPECT_EQ(simwin::DriveQueries().size(), 24u);
    for (auto& s : statuses_)
        EXPECT_NE(s, "E:\\e.txt");
    EXPECT_EQ(statuses_.back(), "Scanning terminated");
    EXPECT_EQ(lines_, Statistics(g_scan.filesScanned, 0, 0));
    EXPECT_LT(g_scan.filesScanned, 4);
}

/* What shuts Administrators out is read with the privileges the run enables;
   without them each is logged as not checked. So too where the opens fall
   back to CreateFileA (an ntdll without NtCreateFile). */
TEST_F(ScanRunTest, WhatShutsAdministratorsOutIsReadWithTheBackupPrivileges) {
    for (int run = 0; run < 4; run++) {
        const bool held = run % 2 == 0;
        Renew();
        simwin::SetExportPresent("ntdll.dll", "NtCreateFile", run < 2);
        simwin::HoldPrivilege(SE_BACKUP_NAME, held);
        for (const char* path : {"C:\\locked\\l.exe", "C:\\shut.exe"})
            PlantVariant(path), simwin::DenyAdministrators(path);
        simwin::DenyAdministrators("C:\\locked");
        RunScan();
        const std::string gone = "     W32/Phantaxis.Backdoor removed",
                          not_ = "     Unable to check";
        EXPECT_EQ(lines_, held
                              ? Statistics(2, 2, 2,
                                           {"C:\\shut.exe" + gone, "C:\\locked\\l.exe" + gone, " "})
                              : Statistics(1, 0, 0, {"C:\\shut.exe" + not_, "C:\\locked\\" + not_}))
            << "run " << run;
    }
}

/* Program Files listed in another case is walked twice; D's entered by the
   tree walk is not walked again ("visited" is never cleared); a one-folder
   target walks that folder only, and an empty one nothing. */
TEST_F(ScanRunTest, ProgramFilesAndOtherTargets) {
    const struct {
        const char* target;
        std::vector<const char*> files;
        int32_t scanned, pending;
    } rows[] = {
        {"!:", {"C:\\PROGRAM FILES\\app.exe"}, 2, 0},
        {"!:", {"C:\\Program Files\\app.exe", "D:\\PROGRAM FILES\\other.exe"}, 2, 1},
        {"C:\\only", {"C:\\only\\x.txt", "C:\\other\\y.txt"}, 1, 0},
        {"", {"C:\\x.txt"}, 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.target);
        Renew();
        MapDrive('D');
        strcpy(g_scan.target, r.target);
        for (const char* file : r.files)
            simwin::WriteFile(file, "");
        RunScan();
        EXPECT_EQ(g_scan.filesScanned, r.scanned);
        EXPECT_EQ(g_scan.programFilesPending, r.pending);
        EXPECT_EQ(simwin::DriveQueries().empty(), r.target[0] != '!');
        EXPECT_EQ(lines_, Statistics(r.scanned, 0, 0));
    }
}

/* A deletion waiting for the restart offers it, also after a terminated scan. */
TEST_F(ScanRunTest, RestartIsOfferedWhenADeletionWaitsForIt) {
    for (bool stopped : {false, true}) {
        Renew();
        g_scan.restartNeeded = g_scan.restartOtherwise = 1;
        g_scan.stopRequested = stopped;
        simwin::ScriptAnswers({IDNO});
        RunScan();
        ASSERT_EQ(simwin::Questions().size(), 1u);
        const auto& q = simwin::Questions()[0];
        EXPECT_EQ(q.text, "The system has to be restarted to remove the virus completely from your "
                          "system. \n\n Restart now?");
        EXPECT_EQ(q.title, "CleanPhantaxis Ver 1.0");
        EXPECT_EQ(q.style, 36u);
        // the status comes before the question
        EXPECT_EQ(statuses_.back(), stopped ? "Scanning terminated" : "Scanning completed");
        EXPECT_TRUE(simwin::ShutdownRequests().empty());
    }
}

// A file that leaves its waiting folder while the question is shown (no
// program can while this one holds it; the host moves it here) is not
// removed by the restart: it gets its line, and Yes restarts nothing.
TEST_F(ScanRunTest, AFileLeftForTheRestartAsksAndOnlyYesRestarts) {
    for (int answer : {IDYES, IDNO, -IDYES}) {
        SCOPED_TRACE(answer);
        const bool leaves = answer < 0;
        answer = abs(answer);
        Renew();
        simwin::MakeDir("C:\\WINDOWS");
        PlantVariant("C:\\locked.exe");
        // XP: the delete through the handle fails (the attributes are reset),
        // twice, and again in the folder where the file waits; the move there
        // does not.
        simwin::FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED, 2, 1);
        simwin::FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED, -1, 2);
        simwin::ScriptAnswers({answer});
        if (leaves)
            simwin::OnCall("AskUser", [] {
                std::filesystem::rename(simwin::HostPath(simwin::PendingDeletions()[0]),
                                        simwin::HostPath("C:\\out.exe"));
            });
        RunScan();
        const std::string waits = "C:\\WINDOWS\\CleanPhantaxis-restart-*";
        EXPECT_EQ(lines_.front(), "C:\\locked.exe     W32/Phantaxis.Backdoor Unable to remove");
        EXPECT_EQ(PendingDeletionsMasked(),
                  (std::vector<std::string>{waits + "\\locked.exe", waits}));
        ASSERT_FALSE(simwin::PendingDeletions().empty());
        EXPECT_NE(simwin::FileExists(simwin::PendingDeletions()[0]), leaves);
        if (leaves) {
            EXPECT_EQ(lines_.back(), lines_.front()); // after the statistics
        }
        ASSERT_EQ(simwin::Questions().size(), 1u);
        EXPECT_EQ(simwin::Questions()[0].title, "CleanPhantaxis Ver 1.0");
        if (answer == IDYES && !leaves)
            EXPECT_EQ(simwin::ShutdownRequests(), std::vector<UINT>{EWX_REBOOT | EWX_FORCE});
        else
            EXPECT_TRUE(simwin::ShutdownRequests().empty());
    }
}

// The scan state's checked rules (engine/scan_state.h): a walk or a check
// entered with one broken ends the process, naming it.
TEST_F(ScanRunTest, ABrokenScanStateRuleEndsTheWalkAndTheCheck) {
    const std::pair<void (*)(), const char*> rows[] = {
        {[] { g_scan.pendingMemoryAction = ACTION_DELETE; }, "pendingMemoryAction outside"},
        {[] { g_scan.pendingMemoryAction = ACTION_DELETE, g_scan.mainWindow = nullptr; },
         "pendingMemoryAction outside"}, // with no window either
        {[] { g_scan.memoryRestartNeeded = 1; }, "memoryRestartNeeded outside"},
        {[] { g_scan.keepLog = true; }, "keepLog"},
        {[] { g_scan.volumesEntered = 17; }, "volumesEntered"},
        {[] { g_scan.programFilesVisited = 2; }, "BOOL flag"},
    };
    for (const auto& [breakRule, rule] : rows) {
        Renew();
        breakRule();
        EXPECT_DEATH(WalkDirectory("C:\\*.*"), rule);
        EXPECT_DEATH(CheckFile("x", "C:\\a.exe"), rule);
    }
}
