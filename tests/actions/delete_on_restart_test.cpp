/*
** Delete at restart: the wininit.ini merge on 9x (and that a failure never
** damages the file), MoveFileExA on NT, nothing on other platforms.
*/
#include "actions/files.h"
#include "engine/file_identity.h"
#include "world.h"

#include <functional>
#include <optional>
#include <set>
#include <tuple>

class DeleteOnRestartTest : public WorldTest {
  protected:
    void Furnish() override {
        simwin::SetWindows98();
        simwin::MakeDir("C:\\WINDOWS\\TEMP");
        simwin::WriteFile(kLong, "MZ");
        simwin::WriteFile("C:\\B.EXE", "MZ");
    }
    /* Windows starts again: WININIT carries out wininit.ini; what it ran. */
    std::string Restart() {
        Reboot(simwin::SetWindows98);
        return simwin::RunWininit();
    }
    static std::string Ini() { return simwin::ReadFile("C:\\WINDOWS\\wininit.ini"); }
    /* The identity of the file `path` names now, as a check proves it. */
    static const CheckedFile* Checked(const char* path) {
        static std::optional<CheckedFile> checked;
        FileId id;
        const bool known = IdentityByReading(path, &id);
        checked.reset();
        if (known) checked = ProofsForTests::File(INVALID_HANDLE_VALUE, id);
        return known ? &*checked : nullptr;
    }
    static void SetIni(const std::string& text) {
        simwin::WriteFile("C:\\WINDOWS\\wininit.ini", text);
    }
    /* The live file after scheduling kLong, starting from `old`. */
    static std::string Merged(const std::string& old) {
        SetIni(old);
        EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
        EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\TEMP\\wininit.ini"), old);
        EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\cphxini.new"));
        return Ini();
    }
    /* The new file cannot take the old one's place, nor the old be renamed back. */
    static void FailRenamesIntoPlace() {
        simwin::FailCallOn("MoveFileA", "C:\\WINDOWS\\cphxini.new", ERROR_WRITE_FAULT);
        simwin::FailCallOn("MoveFileA", "C:\\WINDOWS\\cphxini.old", ERROR_WRITE_FAULT);
    }
    /* A request stopped between the swap's renames, the old content `old`. */
    static void StopSwap(const std::string& old) {
        simwin::WriteFile("C:\\WINDOWS\\cphxini.old", old);
        simwin::WriteFile("C:\\WINDOWS\\cphxini.new", old + kEntry);
    }
    static constexpr const char* kLong = "C:\\Program Files\\Phx\\verylongname.exe";
    static constexpr const char* kEntry = "NUL=C:\\PROGRA~1\\Phx\\VERYLO~1.EXE\r\n";
};

/* A second request of the run lands below the first, in the one section,
   and overwrites the copy with the file the first left; so also where a
   hidden wininit.ini gives its copy its attributes (CopyFileA refuses a
   hidden target). */
TEST_F(DeleteOnRestartTest, NewFileHoldsExactlyTheSectionAndTheShortEntry) {
    for (const bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "hidden" : "new");
        Renew();
        if (hidden) SetIni("[rename]\r\n");
        if (hidden) SetFileAttributesA("C:\\WINDOWS\\wininit.ini", FILE_ATTRIBUTE_HIDDEN);
        EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
        EXPECT_EQ(Ini(), std::string("[rename]\r\n") + kEntry);
        EXPECT_TRUE(ScheduleDeleteOnRestart("c:\\b.exe"));
        EXPECT_EQ(Ini(), std::string("[rename]\r\n") + kEntry + "NUL=c:\\b.exe\r\n");
        EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\TEMP\\wininit.ini"),
                  std::string("[rename]\r\n") + kEntry);
        EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\wininit.ini") & FILE_ATTRIBUTE_READONLY, 0u);
    }
    // A copy that fails all the same gives the earlier copy its bits back.
    SetFileAttributesA("C:\\WINDOWS\\TEMP\\wininit.ini", FILE_ATTRIBUTE_HIDDEN);
    simwin::FailCall("CopyFileA", ERROR_WRITE_FAULT);
    EXPECT_FALSE(ScheduleDeleteOnRestart("c:\\b.exe"));
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\TEMP\\wininit.ini"), (DWORD)FILE_ATTRIBUTE_HIDDEN);
}

/* The old file, and the live file after the merge: every other byte stays. */
TEST_F(DeleteOnRestartTest, EntryGoesToTheEndOfTheRenameSection) {
    const std::string longLine = "NUL=" + std::string(643, 'a') + "[b]" + std::string(300, 'c'),
                      other = std::string(647, 'z') + "[rename]\r\n",
                      withNul = std::string("k=v\0w", 5) + "\r\n",
                      exact = std::string(645, 'e') + "\r\n", e = kEntry;
    const std::pair<std::string, std::string> rows[] = {
        // Before the next section, CR LF or not; the last section: at the end.
        {"[Rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\nx=1\r\n\x1A",
         "[Rename]\r\nNUL=C:\\OLD.EXE\r\n" + e + "[other]\nx=1\r\n\x1A"},
        {"[other]\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n",
         "[other]\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n" + e},
        // Capitals count; a header after blanks does not.
        {"[RENAME]\r\n[x]\r\n", "[RENAME]\r\n" + e + "[x]\r\n"},
        {" [rename]\r\n", " [rename]\r\n[rename]\r\n" + e},
        // A reader stops at Ctrl+Z: the entry goes before it; no section after it counts.
        {"[rename]\r\nNUL=C:\\OLD.EXE\r\n\x1A", "[rename]\r\nNUL=C:\\OLD.EXE\r\n" + e + "\x1A"},
        {"[rename]\r\nNUL=C:\\OLD.EXE\x1A\x1A", "[rename]\r\nNUL=C:\\OLD.EXE\r\n" + e + "\x1A\x1A"},
        {"[x]\r\n\x1A[rename]\r\n[y]\r\n", "[x]\r\n[rename]\r\n" + e + "\x1A[rename]\r\n[y]\r\n"},
        {"\x1A", "[rename]\r\n" + e + "\x1A"},
        // No section: appended on a line of its own, a final line end or not.
        {"", "[rename]\r\n" + e},
        {"[other]\r\nx=1\r\n", "[other]\r\nx=1\r\n[rename]\r\n" + e},
        {"[other]\r\nx=1", "[other]\r\nx=1\r\n[rename]\r\n" + e},
        {"[rename]\r\nNUL=C:\\OLD.EXE", "[rename]\r\nNUL=C:\\OLD.EXE\r\n" + e},
        // Long lines stay whole; no header at the 648th character or mid-line; a
        // NUL cuts no line; a line may end exactly at a piece boundary.
        {"[rename]\r\n" + longLine + "\r\n[next]\r\n",
         "[rename]\r\n" + longLine + "\r\n" + e + "[next]\r\n"},
        {"[x]\r\n" + other + withNul, "[x]\r\n" + other + withNul + "[rename]\r\n" + e},
        {"[rename]\r\n" + exact + "[y]\r\n", "[rename]\r\n" + exact + e + "[y]\r\n"},
    };
    for (const auto& [old, merged] : rows) {
        SCOPED_TRACE(old.substr(0, 40));
        EXPECT_EQ(Merged(old), merged);
    }
    EXPECT_FALSE(AddWininitRename("NUL", "C:\\X.EXE\x1A"));
}

/* The Windows folder also by its short form. */
TEST_F(DeleteOnRestartTest, TheTemporaryFolderMayBeTheWindowsFolder) {
    const std::string old = "[boot]\r\nshell=x\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\n";
    const std::string merged = std::string("[boot]\r\nshell=x\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n") +
                               kEntry + "[other]\r\n";
    const char* const folders[][2] = {
        {"C:\\WINDOWS", "C:\\WINDOWS\\"},
        {"C:\\WINDOWS", "c:\\windows\\"},
        {"C:\\Windows Me", "C:\\WINDOW~1\\"}}; // the Windows folder, the temporary folder
    for (const auto& [windows, temp] : folders) {
        SCOPED_TRACE(temp);
        simwin::SetWindowsDirectory(windows);
        simwin::SetTempPath(temp);
        simwin::WriteFile(std::string(windows) + "\\wininit.ini", old);
        EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
        EXPECT_EQ(simwin::ReadFile(std::string(windows) + "\\wininit.ini"), merged);
    }
}

/* Every call of a request failing in turn: the request fails and leaves the
   old file as it was, or it succeeds; so also with two failures that hit
   the way back. */
TEST_F(DeleteOnRestartTest, AnyFailureLeavesTheOldFileIntact) {
    const std::string old = "[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\nx=1\r\n";
    SetIni(old);
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLong)); // counts the calls of a whole request
    const std::string merged = Ini();
    std::vector<FaultPoint> points =
        FaultPoints({"GetWindowsDirectoryA", "GetTempPathA", "GetShortPathNameA",
                     "GetFileAttributesA", "CopyFileA", "fopen", "fgets", "fclose", "_open",
                     "_write", "_close", "MoveFileA", "DeleteFileA"});
    ASSERT_GE(points.size(), 16u);
    // Two failures: the old file comes back by copy when it cannot be renamed
    // back; a failed write whose new file cannot be deleted leaves that behind.
    void (*const doubles[])() = {FailRenamesIntoPlace, [] {
                                     simwin::FailCall("_write", ERROR_WRITE_FAULT, 1, 3);
                                     simwin::FailCallOn("DeleteFileA", "C:\\WINDOWS\\cphxini.new",
                                                        ERROR_WRITE_FAULT);
                                 }};
    points.push_back({"MoveFileA+MoveFileA", 0});
    points.push_back({"_write+DeleteFileA", 1});
    for (const FaultPoint& p : points) {
        SCOPED_TRACE(p.op + " " + std::to_string(p.call));
        Renew();
        SetIni(old);
        if (p.op.find('+') != std::string::npos)
            doubles[p.call]();
        else
            simwin::FailCall(p.op, ERROR_WRITE_FAULT, 1, p.call);
        const bool done = ScheduleDeleteOnRestart(kLong);
        EXPECT_EQ(Ini(), done ? merged : old);
        EXPECT_EQ(simwin::FileExists("C:\\WINDOWS\\cphxini.old"), done && p.op == "DeleteFileA");
        EXPECT_EQ(simwin::FileExists("C:\\WINDOWS\\cphxini.new"), p.op == "_write+DeleteFileA");
        EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
        EXPECT_EQ(simwin::OpenStreamCount(), 0u);
    }
    Renew();
    // A read-only wininit.ini cannot be replaced.
    SetIni(old);
    SetFileAttributesA("C:\\WINDOWS\\wininit.ini", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(Ini(), old);

    // Creating it from scratch: a failed write leaves no file at all.
    Renew();
    simwin::FailCall("_write", ERROR_WRITE_FAULT, 1, 1);
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLong));
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\wininit.ini"));
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\cphxini.new"));
}

TEST_F(DeleteOnRestartTest, AnInterruptedSwapIsFinishedByTheNextRequest) {
    // Neither file can take the place: the old content waits in cphxini.old,
    // and a success after the swap leaves it to the next request.
    const std::string old = "[rename]\r\nNUL=C:\\OLD.EXE\r\n";
    SetIni(old);
    FailRenamesIntoPlace();
    simwin::FailCallOn("CopyFileA", "C:\\WINDOWS\\cphxini.old", ERROR_WRITE_FAULT);
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\cphxini.old"), old);
    Reboot(simwin::SetWindows98);
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(Ini(), old + kEntry);
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\cphxini.old"));
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\cphxini.new"));

    simwin::FailCallOn("DeleteFileA", "C:\\WINDOWS\\cphxini.old", ERROR_WRITE_FAULT);
    EXPECT_TRUE(ScheduleDeleteOnRestart("C:\\B.EXE"));
    EXPECT_EQ(Ini(), old + kEntry + "NUL=C:\\B.EXE\r\n");
    EXPECT_TRUE(simwin::FileExists("C:\\WINDOWS\\cphxini.old"));
    EXPECT_TRUE(ScheduleDeleteOnRestart("C:\\B.EXE"));
    EXPECT_EQ(Ini(), old + kEntry + "NUL=C:\\B.EXE\r\nNUL=C:\\B.EXE\r\n");
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\cphxini.old"));
}

/* Each file operation of a request failing in turn, then the power lost
   before each (none from there on happens), also once both renames that put
   a file in place have failed, and Windows restarting before the next
   request: what waited in wininit.ini runs once, never again. */
TEST_F(DeleteOnRestartTest, ARestartBetweenTwoRequestsRunsEachEntryOnce) {
    const std::string old = "[rename]\r\nNUL=C:\\APP\\OLD.DLL\r\n", later = "NUL=C:\\B.EXE\r\n",
                      theirs = "NUL=C:\\SETUP.TMP\r\n";
    const char* const ops[] = {"CopyFileA", "fopen",  "fgets",     "fclose",     "_open",
                               "_write",    "_close", "MoveFileA", "DeleteFileA"};
    // Where the request starts: wininit.ini; a swap stopped between its
    // renames; another program's wininit.ini written after that; and
    // wininit.ini, another program writing a fresh one while ours stands aside.
    int fresh = 0;
    const std::function<void()> starts[] = {
        [&] { SetIni(old); }, [&] { StopSwap(old); },
        [&] { StopSwap(old), SetIni("[rename]\r\n" + theirs); },
        [&] {
            SetIni(old), fresh = 0;
            simwin::OnCall("MoveFileA", [&] {
                if (simwin::CallAbout() == "C:\\WINDOWS\\cphxini.new" && !fresh++)
                    SetIni("[rename]\r\n" + theirs);
            });
        }};
    // (start, operation, call, renames fail); no operation: the power is lost
    std::vector<std::tuple<int, const char*, int, bool>> cases;
    for (int start = 0; start < 4; start++) {
        Renew();
        starts[start]();
        ASSERT_TRUE(ScheduleDeleteOnRestart(kLong)); // counts the calls of a whole request
        int total = 0;
        for (const char* op : ops)
            for (int k = 0; k < simwin::CallCount(op); k++, total++)
                cases.push_back({start, op, k, false});
        for (int k = 0; k < total + 4; k++) // the failed renames take more calls
            for (bool renames : {false, true})
                cases.push_back({start, nullptr, k, renames});
    }
    for (auto [start, op, k, renames] : cases) {
        SCOPED_TRACE(std::to_string(start) + ": " + (op ? op : "power lost at") + " " +
                     std::to_string(k) + (renames ? " after two failed renames" : ""));
        Renew();
        starts[start]();
        int calls = 0;
        if (op) simwin::FailCall(op, ERROR_WRITE_FAULT, 1, k);
        if (renames) FailRenamesIntoPlace();
        for (const char* each : ops)
            if (!op)
                simwin::OnCall(each, [&] {
                    if (calls++ == k)
                        for (const char* o : ops)
                            simwin::FailCall(o, ERROR_WRITE_FAULT, -1);
                });
        const bool done = ScheduleDeleteOnRestart(kLong);
        const std::string first = Restart();
        // What the request reported as done runs at the restart after it.
        EXPECT_TRUE(!done || (first.find(kEntry) != std::string::npos &&
                              first.find("NUL=C:\\APP\\OLD.DLL\r\n") != std::string::npos));
        EXPECT_TRUE(ScheduleDeleteOnRestart("C:\\B.EXE"));
        const std::string ran = first + Restart();
        auto count = [&ran](const std::string& entry) {
            size_t n = 0;
            for (size_t at = 0; (at = ran.find(entry, at)) != std::string::npos; at++, n++) {
            }
            return n;
        };
        EXPECT_EQ(count("NUL=C:\\APP\\OLD.DLL\r\n"), 1u);
        EXPECT_LE(count(kEntry), 1u);
        EXPECT_EQ(count(later), 1u);
        EXPECT_EQ(count(theirs), start == 2 || (start == 3 && fresh) ? 1u : 0u);
    }
}

TEST_F(DeleteOnRestartTest, OtherProgramsFilesStayAndAStoppedSwapIsNeverThrownAway) {
    // wininit.old and wininit.new are other programs' (a user's backup).
    simwin::WriteFile("C:\\WINDOWS\\wininit.old", "backup");
    simwin::WriteFile("C:\\WINDOWS\\wininit.new", "theirs");
    SetIni("[rename]\r\n");
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\wininit.old"), "backup");
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\wininit.new"), "theirs");
    // An installer adds its line after the read, or while ours stands aside
    // (into a fresh file, as none stands): the line stays, and the entries join it.
    const std::string installer = "C:\\APP\\X.DLL=C:\\APP\\X.NEW\r\n", e = kEntry;
    std::vector<std::string> abouts = {"C:\\WINDOWS\\wininit.ini"};
    simwin::OnCall("MoveFileA", [&] {
        if (abouts.empty() || simwin::CallAbout() != abouts.front()) return;
        SetIni((Ini().empty() ? "[rename]\r\n" : Ini()) + installer);
        abouts.erase(abouts.begin());
    });
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(Ini(), "[rename]\r\n" + e + installer + e);
    abouts = {"C:\\WINDOWS\\cphxini.new"};
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(Ini(), "[rename]\r\n" + e + e + installer + e);
    // Both in one request: a line after the read, then a fresh file while ours stands aside again.
    abouts = {"C:\\WINDOWS\\wininit.ini", "C:\\WINDOWS\\cphxini.new"};
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(Ini(), "[rename]\r\n" + e + e + e + installer + e);
    abouts = {"C:\\WINDOWS\\cphxini.new", "C:\\WINDOWS\\wininit.ini"}; // the other way round
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(Ini(), "[rename]\r\n" + e + e + e + e + installer + installer + e);
    // A fresh file puts a clean copy where an earlier entry deletes: that entry runs first.
    simwin::WriteFile("C:\\APP\\X.NEW", "clean");
    SetIni("[rename]\r\nNUL=C:\\APP\\X.DLL\r\n"), abouts = {"C:\\WINDOWS\\cphxini.new"};
    EXPECT_TRUE(ScheduleDeleteOnRestart("C:\\B.EXE"));
    Restart();
    EXPECT_EQ(simwin::ReadFile("C:\\APP\\X.DLL"), "clean");
    // The power lost between the swap's renames, then an installer writing
    // a fresh wininit.ini: the stranded entries join it, once, and run.
    simwin::WriteFile("C:\\WINDOWS\\wininit.bak", "ran");
    simwin::WriteFile("C:\\APP\\SHARED.DLL", "v1");
    simwin::WriteFile("C:\\APP\\SHARED.NEW", "v2");
    const std::string setup = "[rename]\r\nNUL=C:\\SETUP.TMP\r\n";
    StopSwap("[boot]\r\nx=1\r\n[rename]\r\nC:\\APP\\SHARED.DLL=C:\\APP\\SHARED.NEW\r\nNUL=C:"
             "\\SETUP.TMP\r\n");
    SetIni(setup);
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(Ini(), "[rename]\r\nC:\\APP\\SHARED.DLL=C:\\APP\\SHARED.NEW\r\n" + setup.substr(10) +
                         kEntry);
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\wininit.bak"), "ran");
    for (const char* own : {"cphxini.old", "cphxini.new", "cphxini.wai"})
        EXPECT_FALSE(simwin::FileExists(std::string("C:\\WINDOWS\\") + own)) << own;
    Restart();
    EXPECT_EQ(simwin::ReadFile("C:\\APP\\SHARED.DLL"), "v2");

    // Two contents wait (a merge stopped between renames): the older is not put
    // back where it has run, nor refused where its way back left a copy.
    const std::string x = "[rename]\r\nNUL=C:\\X.TMP\r\n", waiting = "NUL=C:\\W.TMP\r\n";
    for (const std::string copy : {"wininit.ini", "wininit.bak"}) {
        Renew();
        StopSwap(x);
        simwin::WriteFile("C:\\WINDOWS\\cphxini.wai", "[rename]\r\n" + waiting);
        simwin::WriteFile("C:\\WINDOWS\\" + copy, x);
        EXPECT_TRUE(ScheduleDeleteOnRestart(kLong));
        EXPECT_EQ(Ini(),
                  "[rename]\r\n" + waiting + (copy == "wininit.ini" ? x.substr(10) : "") + kEntry);
    }
    // A writer that makes a fresh file each time ours stands aside, and deletes
    // what waits beside it: the request still ends, after three writes at most.
    Renew();
    SetIni(x);
    int passes = 0; // (a bound of the writer's, so a loop fails and does not hang)
    simwin::OnCall("MoveFileA", [&] {
        if (simwin::CallAbout() != "C:\\WINDOWS\\cphxini.new" || ++passes > 10) return;
        SetIni("[rename]\r\n" + waiting);
        DeleteFileA("C:\\WINDOWS\\cphxini.wai");
    });
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLong));
    EXPECT_LE(simwin::CallCount("_open"), 3);
}

TEST_F(DeleteOnRestartTest, WithoutAShortFormNothingIsWritten) {
    EXPECT_FALSE(ScheduleDeleteOnRestart("C:\\Program Files\\gone.exe"));
    simwin::FailCall("GetShortPathNameA", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLong));
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\wininit.ini"));
    // A stale cphxini.new from an interrupted run does not get in the way.
    simwin::WriteFile("C:\\WINDOWS\\cphxini.new", "junk");
    EXPECT_TRUE(AddWininitRename("NUL", "C:\\X.EXE"));
    EXPECT_EQ(Ini(), "[rename]\r\nNUL=C:\\X.EXE\r\n");
    EXPECT_FALSE(AddWininitRename("NUL", "C:\\X.EXE\r\n[boot]"));
    // WININIT would read a device's name as the device.
    simwin::WriteFile("\\\\?\\C:\\AUX.EXE", "MZ");
    EXPECT_FALSE(ScheduleDeleteOnRestart("C:\\AUX.EXE"));
    EXPECT_EQ(Ini(), "[rename]\r\nNUL=C:\\X.EXE\r\n");
}

/* Windows on drive D:, and drive C:'s root with the security a root that
   Vista or later formatted has (Authenticated Users may create folders
   there), its owner and one more entry given. */
void OtherDriveRoot(const char* entry, const char* owner = "SY") {
    simwin::SetWindowsDirectory("D:\\WINDOWS");
    simwin::SetFolderSecurity("C:\\", std::string("O:") + owner +
                                          "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"
                                          "(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;AU)"
                                          "(A;OICIIO;SDGXGWGR;;;AU)(A;OICIIO;GA;;;CO)" +
                                          entry);
}

TEST_F(DeleteOnRestartTest, NtAsksMoveFileExOnceOtherPlatformsArrangeNothing) {
    // NT 4.0 schedules the path; 2000 on first move the file into a folder only
    // administrators and the system can write (a link, another's folder or a
    // failed move: nothing). Its name holds 32 random hex digits (shown as
    // '*'): folders made in advance, or the first name taken, stop nothing.
    const std::string waiting = "C:\\WINDOWS\\CleanPhantaxis-restart-*\\verylongname.exe";
    std::set<std::string> names;
    struct Row {
        std::string what;
        WindowsVersion version;
        std::function<void()> meddle;
        std::string scheduled; // empty: nothing
        bool escapes = false;  // scheduled, but not held where it waits
        bool proved = true;    // the check's proof is given
    } rows[] = {
        {"NT 4.0", kNt4, [] {}, kLong},
        {"XP", kXp, [] {}, waiting},
        {"10, folders taken", kWin10,
         [] {
             for (int n = 1; n <= 100; n++)
                 simwin::MakeDir("C:\\CleanPhantaxis-restart-" + std::to_string(n));
             simwin::FailCall("CreateDirectoryA", ERROR_ALREADY_EXISTS, 3);
         },
         waiting},
        {"XP, every name taken", kXp,
         [] { simwin::FailCall("CreateDirectoryA", ERROR_ALREADY_EXISTS, -1); }, ""},
        // Only the file a check proved; NT 4.0 where delayed moves are refused; no other platform.
        {"XP, no proof", kXp, [] {}, "", false, false},
        {"NT 4.0, no proof", kNt4, [] {}, "", false, false},
        {"NT 4.0, delayed moves refused", kNt4, [] { simwin::AllowDelayedMoves(false); }, ""},
        {"Win32s", [] { simwin::SetVersion(VER_PLATFORM_WIN32s, 3, 10); }, [] {}, ""},
        // Elsewhere the drive's root, only where its children are left to
        // administrators and the system: not Everyone full control (2000), a
        // user's owning it or deleting a child; creating folders there, and
        // inherit-only rights, are no such right.
        {"XP, the Windows folder on another drive", kXp,
         [] { simwin::SetWindowsDirectory("D:\\WINDOWS"); }, ""},
        {"10, another drive, users may create folders in its root", kWin10,
         [] { OtherDriveRoot(""); }, "C:\\CleanPhantaxis-restart-*\\verylongname.exe"},
        {"10, another drive, users may delete its root's children", kWin10,
         [] { OtherDriveRoot("(A;;DT;;;AU)"); }, ""},
        {"10, another drive, a user owns its root", kWin10,
         [] { OtherDriveRoot("", "S-1-5-21-1-2-3-1001"); }, ""},
        {"XP, the file cannot be taken over", kXp,
         [] { simwin::FailCall("SetKernelObjectSecurity", ERROR_ACCESS_DENIED); }, ""},
        {"XP, no UUID", kXp,
         [] { simwin::FailCall("UuidCreate", 1824 /* RPC_S_UUID_LOCAL_ONLY */, -1); }, ""},
        {"XP, a link on the path", kXp,
         [] {
             ASSERT_TRUE(MoveFileA("C:\\Program Files\\Phx", "C:\\Phx"));
             simwin::MakeDirLink("C:\\Program Files\\Phx", "C:\\Phx");
         },
         ""},
        // FAT keeps no security: no folder of it is out of a user's reach.
        {"XP, a FAT volume", kXp, [] { simwin::SetFatVolume('C'); }, ""},
        {"XP, the move fails", kXp,
         [] { simwin::FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED); }, ""},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    // Another program's oplock, taken while no handle of ours is open (as
    // Windows grants an exclusive one) before the take-over, the move or the
    // hold: no call waits for it, and a file it keeps from being held is one
    // its holder may move. A Read-Handle lease is Windows 7's and later.
    const std::pair<const char*, simwin::Oplock> kinds[] = {
        {"batch", simwin::Oplock::Batch},
        {"filter", simwin::Oplock::Filter},
        {"Read-Handle", simwin::Oplock::ReadHandle}};
    auto moved = [] {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA("C:\\WINDOWS\\CleanPhantaxis-restart-*", &found);
        if (search == INVALID_HANDLE_VALUE) return std::string();
        FindClose(search);
        return std::string("C:\\WINDOWS\\") + found.cFileName + "\\verylongname.exe";
    };
    // `then` at the first call of `second` after one of `first`.
    auto after = [](std::string first, std::string second, std::function<void()> then) {
        return [=] { simwin::OnCall(first, [=] { simwin::OnCall(second, then); }); };
    };
    for (const WindowsVersion& v : {kXp, kWin10})
        for (const auto& [name, oplock] : kinds) {
            const bool lease = oplock == simwin::Oplock::ReadHandle;
            // A lease (on 10) holds up the take-over and the move until a
            // time limit cancels them; it keeps nothing from the hold.
            const std::string held = lease && v == simwin::SetWindows10 ? "" : waiting;
            const simwin::Oplock kind = oplock; // a copy the lambdas can capture
            const std::function<void()> hold = [=] { simwin::HoldOplock(kLong, kind); };
            const char* rename =
                v == simwin::SetWindows10 ? "SetFileInformationByHandle" : "NtSetInformationFile";
            const std::string on = std::string(v.name) + ", a " + name + " oplock ";
            all.push_back({on + "before the take-over", v,
                           [=] { simwin::OnCall("CreateDirectoryA", hold); }, lease ? held : ""});
            all.push_back({on + "before the move", v,
                           after("SetKernelObjectSecurity", "NtCreateFile", hold),
                           lease ? held : ""});
            // Asked while the move's own handle is open: no exclusive kind is granted then.
            all.push_back(
                {on + "asked during the move", v, [=] { simwin::OnCall(rename, hold); }, held});
            all.push_back(
                {on + "before the hold", v,
                 after(rename, "NtCreateFile", [=] { simwin::HoldOplock(moved(), kind); }), waiting,
                 !lease});
        }
    // A cancel that does not end the move leaves its handle open: closing it would wait.
    const auto refused = after("SetKernelObjectSecurity", "NtCreateFile",
                               [] { simwin::HoldOplock(kLong, simwin::Oplock::ReadHandle); });
    all.push_back({"10, a Read-Handle oplock before the move, its cancel refused", kWin10,
                   [=] {
                       simwin::FailCall("CancelSynchronousIo", ERROR_NOT_FOUND, -1);
                       refused();
                   },
                   ""});
    for (const Row& r : all) {
        SCOPED_TRACE(r.what);
        Renew(); // the file is there already
        r.version.set();
        r.meddle();
        WaitingFile held{INVALID_HANDLE_VALUE, {}, ""};
        bool escapes = false;
        EXPECT_EQ(
            ScheduleDeleteOnRestart(kLong, r.proved ? Checked(kLong) : nullptr, &escapes, &held),
            !r.scheduled.empty());
        EXPECT_EQ(escapes, r.escapes);
        EXPECT_FALSE(AddWininitRename("NUL", "C:\\X.EXE")); // NT reads no wininit.ini
        EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\wininit.ini"));
        EXPECT_EQ(simwin::OplockWaits(), 0);
        const bool waits = !r.scheduled.empty() && r.scheduled != kLong; // moved to where it waits
        std::vector<std::string> pending; // the file, and its emptied folder after it
        if (!r.scheduled.empty()) pending.push_back(r.scheduled);
        if (waits) pending.push_back(r.scheduled.substr(0, r.scheduled.rfind('\\')));
        for (const std::string& each : simwin::PendingDeletions())
            names.insert(each);
        EXPECT_EQ(PendingDeletionsMasked(), pending);
        for (const simwin::MoveFileExCall& call : simwin::MoveFileExCalls())
            EXPECT_TRUE(!call.newName.empty() || call.flags == MOVEFILE_DELAY_UNTIL_REBOOT);
        EXPECT_EQ(simwin::FileExists(kLong), !waits);
        if (!waits) continue;
        const std::string real = simwin::PendingDeletions()[0];
        EXPECT_TRUE(simwin::FileExists(real));
        const std::string folder = real.substr(0, real.rfind('\\'));
        EXPECT_EQ(simwin::FolderSecurity(folder), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
        EXPECT_EQ(simwin::FileSecurity(real), "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)");
    }
    EXPECT_EQ(names.size(), 33u);               // kLong, and every run's folder and file its own
    EXPECT_FALSE(HasWaitingPlace("D:\\x.exe")); // XP
    EXPECT_TRUE(HasWaitingPlace("c:\\x.exe"));
    simwin::SetWindowsNt4();
    EXPECT_TRUE(HasWaitingPlace("D:\\x.exe"));
    // A version that cannot be read arranges nothing, nor is the file looked at.
    const int moves = simwin::CallCount("MoveFileExA"), opens = simwin::CallCount("CreateFileA");
    simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLong));
    EXPECT_EQ(simwin::CallCount("MoveFileExA"), moves);
    EXPECT_EQ(simwin::CallCount("CreateFileA"), opens);
    EXPECT_EQ(simwin::CallCount("GetShortPathNameA"), 0);
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\wininit.ini"));
}
