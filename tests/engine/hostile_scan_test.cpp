/*
** Hostile input to the walk and the file check: paths at and beyond the
** 260-byte buffers, trees deeper than they allow, a folder that vanishes
** mid-walk, a file that shrinks while it is checked, and PE headers that run
** off the end of the file. In every case the scan must not crash (these
** tests also run under ASan), must touch nothing but infected files, and
** must go on: a later infected file of the same walk is still removed.
*/
#include "engine/file_check.h"
#include "engine/signatures.h"
#include "engine/walk.h"
#include "platform/platform.h"
#include "pe_headers.h"
#include "world.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

class HostileScanTest : public ScanWorldTest {
  protected:
    /* Every file under drive C: and its content. */
    std::map<std::string, std::string> Snapshot() {
        std::map<std::string, std::string> files;
        for (auto& e : fs::recursive_directory_iterator(root_ + "/c"))
            if (e.is_regular_file()) {
                std::ifstream in(e.path(), std::ios::binary);
                files[e.path()] = std::string(std::istreambuf_iterator<char>(in), {});
            }
        return files;
    }

    /* What is left of `before` must be unchanged, and exactly `removed`
       (host paths) must be gone. */
    void ExpectOnlyRemoved(const std::map<std::string, std::string>& before,
                           const std::vector<std::string>& removed) {
        auto after = Snapshot();
        for (auto& [path, bytes] : before) {
            bool gone = std::find(removed.begin(), removed.end(), path) != removed.end();
            auto it = after.find(path);
            if (gone) {
                EXPECT_TRUE(it == after.end()) << path << " was not removed";
            } else {
                EXPECT_TRUE(it != after.end() && it->second == bytes) << path << " was touched";
            }
        }
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
        EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
    }

    std::string Host(const std::string& win) { return simwin::HostPath(win); }
};

TEST_F(HostileScanTest, PathsAtAndBeyondTheBufferAndTreesDeeperThanIt) {
    const std::string dir = "C:\\" + std::string(200, 'a'); // 203 characters
    const std::string fits = PathOfLength(dir, 259, 'p'), tooLong = PathOfLength(dir, 260, 'q'),
                      farTooLong = PathOfLength(dir, 448, 'r');
    simwin::WriteFile(fits, infected_);
    simwin::WriteFile(tooLong, infected_);
    simwin::WriteFile(farTooLong, infected_);
    // The two long names that do not fit are reached by their 8.3 names.
    // A chain of folders far deeper than any buffer, with an infected file
    // on every level: those whose path fits are removed, the rest (8.3 names
    // all) are not reachable through a 260-byte path and stay.
    std::string deep = "C:\\deep";
    std::vector<std::string> deepRemoved, deepFiles;
    for (int level = 0; level < 40; level++) {
        deep += "\\level" + std::to_string(level);
        std::string file = deep + "\\v.exe";
        simwin::WriteFile(file, infected_);
        deepFiles.push_back(file);
        if (file.size() <= 259) deepRemoved.push_back(Host(file));
    }
    ASSERT_GT(deepFiles.back().size(), 300u);
    // A folder whose own pattern just fits, holding a file that does not:
    // reached below the folder's 8.3 form.
    const std::string below = "C:\\" + std::string(252, 'x') + "\\f.exe";
    simwin::WriteFile(below, infected_);
    simwin::WriteFile("C:\\zzz\\late.exe", infected_);
    std::vector<std::string> removed = deepRemoved;
    removed.push_back(Host(below));
    removed.push_back(Host(fits));
    removed.push_back(Host(tooLong));
    removed.push_back(Host(farTooLong));
    removed.push_back(Host("C:\\zzz\\late.exe"));
    auto before = Snapshot();

    EXPECT_GT(WalkDirectory("C:\\*.*"), 0);
    ExpectOnlyRemoved(before, removed);
    EXPECT_EQ(g_scan.filesRemoved, (int)removed.size());
    EXPECT_EQ(g_scan.filesInfected, (int)removed.size());
    EXPECT_EQ(g_scan.filesScanned, (int)removed.size()); // the others are never reached
    for (auto& s : statuses_)
        EXPECT_LE(s.size(), 60u);
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.back(), kLateRemoved);

    // Patterns handed in at and beyond the limit: nothing is read past them.
    const std::string pattern259 = PathOfLength("C:", 255, 'x', "") + "\\*.*";
    EXPECT_EQ(WalkDirectory(pattern259.c_str()), g_scan.filesScanned);
    std::string pattern5000 = "C:\\" + std::string(4990, 'y') + "\\*.*";
    EXPECT_EQ(WalkDirectory(pattern5000.c_str()), g_scan.filesScanned);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(HostileScanTest, AFolderThatVanishesMidWalk) {
    simwin::WriteFile("C:\\a\\x.txt", "first file of the walk");
    simwin::WriteFile("C:\\b\\1.txt", "one");
    simwin::WriteFile("C:\\b\\2.exe", infected_);
    simwin::WriteFile("C:\\b\\3.txt", "three");
    simwin::WriteFile("C:\\b\\sub\\4.exe", infected_);
    simwin::WriteFile("C:\\c\\gone\\5.exe", infected_);
    simwin::WriteFile("C:\\zzz\\late.exe", infected_);
    // As b's file phase opens 2.exe, b disappears with all it holds; as the
    // walk enters c's subfolder, that is replaced by a file.
    const std::string b = Host("C:\\b"), cGone = Host("C:\\c\\gone");
    simwin::OnCall("CreateFileA", [b] {
        if (simwin::CallAbout() == "C:\\b\\2.exe") fs::remove_all(b);
    });
    simwin::OnCall("FindFirstFileA", [cGone] {
        if (fs::is_directory(cGone) && simwin::CallAbout() == "C:\\c\\gone\\*.*") {
            fs::remove_all(cGone);
            std::ofstream(cGone) << "now a file";
        }
    });
    EXPECT_GT(WalkDirectory("C:\\*.*"), 0);
    // b's entries were listed before it vanished: they are shown and counted,
    // but cannot be opened, so nothing is checked or posted for them.
    EXPECT_EQ(g_scan.filesScanned, 5); // x, 1, 2, 3, late
    EXPECT_EQ(g_scan.filesInfected, 1);
    EXPECT_EQ(lines_, (std::vector<std::string>{kLateRemoved}));
    EXPECT_FALSE(simwin::FileExists("C:\\zzz\\late.exe"));
    EXPECT_EQ(simwin::ReadFile("C:\\a\\x.txt"), "first file of the walk");
    EXPECT_EQ(simwin::ReadFile("C:\\c\\gone"), "now a file");
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}

TEST_F(HostileScanTest, AFileThatShrinksWhileItIsChecked) {
    // The size filter passes on the file's first length; before the
    // windows are read the file is cut short (to 1000 bytes, then to
    // nothing, then inside the headers). The reads come back short and
    // the record does not match; the cut file is left as it is.
    for (long cut : {1000L, 0L, 30L}) {
        SCOPED_TRACE(cut);
        Renew();
        simwin::WriteFile("C:\\a\\shrinks.exe", infected_);
        simwin::WriteFile("C:\\b\\late.exe", infected_);
        const std::string victim = Host("C:\\a\\shrinks.exe");
        // _filelength: first for the size filter, next inside the first
        // window's translation; _read: the second header read.
        const char* op = cut == 30 ? "_read" : "_filelength";
        simwin::OnCall(op, [victim, cut, op] {
            if (simwin::CallCount(op) == 2) fs::resize_file(victim, (uintmax_t)cut);
        });
        EXPECT_GT(WalkDirectory("C:\\*.*"), 0);
        EXPECT_EQ(fs::file_size(victim), (uintmax_t)cut);
        EXPECT_TRUE(simwin::FileExists("C:\\a\\shrinks.exe"));
        EXPECT_FALSE(simwin::FileExists("C:\\b\\late.exe"));
        EXPECT_EQ(g_scan.filesInfected, 1);
        EXPECT_EQ(lines_, (std::vector<std::string>{
                              "C:\\b\\late.exe     W32/Phantaxis.b.FraudTool removed"}));
        EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
    }
}

TEST_F(HostileScanTest, HeadersThatRunOffTheEndOfTheFile) {
    // Row 54 is 44032 bytes, so the 16-bit header pointer can reach its
    // last bytes; most damages keep the record's size, so the size filter
    // passes and only the header checks stand between the bytes and the
    // buffers they are read into (pointers at the end, section tables and
    // raw data past it). A file the check still finds so is removed.
    std::vector<uint8_t> base = Specimen(54);
    ASSERT_EQ(base.size(), 44032u);
    std::vector<std::string> removed = {Host("C:\\zzz\\late.exe")};
    int files = 0;
    for (const HeaderDamage& damage : HeaderDamages()) {
        std::vector<uint8_t> b;
        if (!Damage(base, kVariantTable[53], damage, &b)) continue; // not for this layout
        const std::string path = "C:\\odd\\" + damage.name + ".exe";
        simwin::WriteFile(path, b);
        if (damage.outcome == Outcome::Detected) removed.push_back(Host(path));
        files++;
    }
    simwin::WriteFile("C:\\zzz\\late.exe", infected_);
    auto before = Snapshot();
    uint64_t readBefore = simwin::BytesRead();

    WalkDirectory("C:\\*.*");
    ExpectOnlyRemoved(before, removed);
    EXPECT_EQ(g_scan.filesScanned, files + 1);
    EXPECT_EQ(g_scan.filesInfected, (int)removed.size());
    EXPECT_EQ(lines_.size(), removed.size());
    // Header reads and two 20-byte windows per record at most, never a
    // whole file: well under a kilobyte per file plus the infected one's.
    EXPECT_LT(simwin::BytesRead() - readBefore, (files + 1) * 1200u + 2 * 20 * 127);
}

TEST_F(HostileScanTest, AFolderSwappedForALinkAfterTheCheck) {
    // Between the check and the disposal the variant's folder steps aside
    // and a link takes its place (to the system folder, or to the folder
    // itself, which a variant could re-aim later), or the file is replaced
    // just before the rename, or the folder is swapped at the very rename or
    // move (what was moved then goes back): what goes is the file checked, never the
    // system's file of the same name, and nothing goes by a path through a
    // link or by a path that names another file.
    const std::function<void()> toSystem = [] {
        SwapFolderForLinkAt("RegOpenKeyExA", "C:\\v", "C:\\WINDOWS\\system32");
    };
    const std::function<void()> toItself = [] {
        SwapFolderForLinkAt("RegOpenKeyExA", "C:\\v", "C:\\v-aside");
    };
    // (The rename's first look at the path, after the two of the record of
    // the file matched.)
    const std::function<void()> replaced = [] {
        simwin::OnCall("GetFileAttributesA", [] {
            if (simwin::CallCount("GetFileAttributesA") != 3) return;
            ASSERT_TRUE(MoveFileA("C:\\v\\x.exe", "C:\\v-aside.exe"));
            simwin::WriteFile("C:\\v\\x.exe", "another file");
        });
    };
    // Or in the instant between the look at the path and the open the rename
    // goes through (the path's fourth open, after the check's, the record's of
    // the file matched and the look's).
    const std::function<void()> replacedAtOpen = [] {
        static int opens;
        opens = 0;
        simwin::OnCall("CreateFileA", [] {
            if (_stricmp(simwin::CallAbout().c_str(), "C:\\v\\x.exe") != 0 || ++opens != 4) return;
            ASSERT_TRUE(MoveFileA("C:\\v\\x.exe", "C:\\v-aside.exe"));
            simwin::WriteFile("C:\\v\\x.exe", "another file");
        });
    };
    // The folder steps aside and another program of that path runs: the
    // program that holds the file is looked for by the path only while the
    // path names the checked file.
    static DWORD otherRuns;
    const std::function<void()> replacedRunning = [] {
        simwin::OnCall("RegOpenKeyExA", [] {
            if (simwin::CallCount("RegOpenKeyExA") != 1) return;
            ASSERT_TRUE(MoveFileA("C:\\v", "C:\\v-aside"));
            simwin::WriteFile("C:\\v\\x.exe", "another program");
            otherRuns = simwin::StartProcess({"C:\\v\\x.exe"});
        });
    };
    // At the rename or the move itself (the call that makes it, by path or
    // through the handle: the fourth on the handle, after the deletes).
    static auto swapAt = [](int onHandle) {
        static bool swapped;
        swapped = false;
        auto swap = [] {
            if (swapped) return;
            swapped = true;
            ASSERT_TRUE(MoveFileA("C:\\v", "C:\\v-aside"));
            simwin::MakeDirLink("C:\\v", "C:\\WINDOWS\\system32");
        };
        simwin::OnCall("MoveFileExA", swap);
        simwin::OnCall("NtSetInformationFile", [swap, onHandle] {
            if (simwin::CallCount("NtSetInformationFile") == onHandle) swap();
        });
    };
    const std::function<void()> atRename = [] { swapAt(1); };
    const std::function<void()> atMove = [] { swapAt(4); };
    // The variant holds its file without sharing the delete, so the check
    // can only read it; it lets go as its folder is swapped.
    const std::function<void()> heldThenSwapped = [] {
        static HANDLE held;
        held = CreateFileA("C:\\v\\x.exe", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        simwin::OnCall("RegOpenKeyExA", [] {
            if (simwin::CallCount("RegOpenKeyExA") != 1) return;
            CloseHandle(held);
            ASSERT_TRUE(MoveFileA("C:\\v", "C:\\v-aside"));
            simwin::MakeDirLink("C:\\v", "C:\\WINDOWS\\system32");
        });
    };
    // Nor can the check learn the file's identity: nothing may go by path.
    const std::function<void()> heldUnknown = [heldThenSwapped] {
        heldThenSwapped();
        simwin::FailCall("GetFileInformationByHandle", ERROR_INVALID_FUNCTION, -1);
    };
    // The file's security shuts Administrators out (its owner's right).
    const std::function<void()> shut = [toSystem] {
        simwin::DenyAdministrators("C:\\v\\x.exe"), toSystem();
    };
    // Both: only a read with backup intent gets in.
    const std::function<void()> shutAndHeld = [heldThenSwapped] {
        heldThenSwapped(), simwin::DenyAdministrators("C:\\v\\x.exe");
    };
    // NT 4.0: the file's name is made a hard link to the system's file.
    const std::function<void()> hardLinked = [] {
        simwin::OnCall("RegOpenKeyExA", [] {
            if (simwin::CallCount("RegOpenKeyExA") != 1 ||
                !MoveFileA("C:\\v\\x.exe", "C:\\v-aside.exe"))
                return; // the checked file's handle refuses it
            std::filesystem::create_hard_link(simwin::HostPath("C:\\WINDOWS\\system32\\x.exe"),
                                              simwin::HostPath("C:\\v\\x.exe"));
        });
    };
    struct Row {
        const char* what;
        int32_t action;
        WindowsVersion version;
        const std::function<void()>& meddle;
        const char* failing; // fails from its second call on: the delete stays refused
        std::string line;
        bool checkedGone;
        bool waits = false; // in the waiting folder, for the restart
    } rows[] = {
        {"delete, XP", ACTION_DELETE, kXp, toSystem, "", "removed", true},
        {"delete, 10", ACTION_DELETE, kWin10, toSystem, "", "removed", true},
        {"delete, NT 4.0, hard link", ACTION_DELETE, kNt4, hardLinked, "", "removed", true},
        {"rename", ACTION_RENAME, kXp, toSystem, "", "Rename failed", false},
        {"restart", ACTION_DELETE, kXp, toSystem, "NtSetInformationFile", "Unable to remove",
         false},
        {"restart, another program of the path runs", ACTION_DELETE, kXp, replacedRunning,
         "NtSetInformationFile", "Unable to remove", false},
        {"rename, link to itself", ACTION_RENAME, kXp, toItself, "", "Rename failed", false},
        {"restart, link to itself", ACTION_DELETE, kXp, toItself, "NtSetInformationFile",
         "Unable to remove", false},
        {"rename, file replaced", ACTION_RENAME, kXp, replaced, "", "Rename failed", false},
        {"rename, file replaced at its open", ACTION_RENAME, kXp, replacedAtOpen, "",
         "Rename failed", false},
        {"swapped at the rename", ACTION_RENAME, kXp, atRename, "", "renamed", true},
        {"swapped at the move", ACTION_DELETE, kXp, atMove, "NtSetInformationFile",
         "Unable to remove", true, true},
        {"held, delete", ACTION_DELETE, kXp, heldThenSwapped, "", "Unable to remove", false},
        {"held, rename", ACTION_RENAME, kWin10, heldThenSwapped, "", "Rename failed", false},
        {"held, unknown, delete", ACTION_DELETE, kXp, heldUnknown, "", "Unable to remove", false},
        {"held, unknown, rename", ACTION_RENAME, kWin10, heldUnknown, "", "Rename failed", false},
        {"shut, delete", ACTION_DELETE, kXp, shut, "", "removed", true},
        {"shut, rename", ACTION_RENAME, kWin10, shut, "", "Rename failed", false},
        {"shut and held, delete", ACTION_DELETE, kXp, shutAndHeld, "", "Unable to remove", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Renew(r.version);
        EnableBackupPrivileges(); // as the scan run does
        g_scan.action = r.action;
        otherRuns = 0;
        simwin::WriteFile("C:\\v\\x.exe", infected_);
        simwin::WriteFile("C:\\WINDOWS\\system32\\x.exe", "the system's own");
        if (*r.failing) simwin::FailCall(r.failing, ERROR_ACCESS_DENIED, 2, 1); // the deletes
        r.meddle();
        EXPECT_EQ(CheckFile("W32/Phantaxis.Trojan", "C:\\v\\x.exe"), 1);
        EXPECT_EQ(lines_,
                  std::vector<std::string>{"C:\\v\\x.exe     W32/Phantaxis.b.FraudTool " + r.line});
        EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\system32\\x.exe"), "the system's own");
        EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\system32\\x.Vxe"));
        EXPECT_FALSE(simwin::FileExists("C:\\v\\x.Vxe"));
        EXPECT_NE(simwin::FileExists("C:\\v-aside\\x.exe") || simwin::FileExists("C:\\v-aside.exe"),
                  r.checkedGone);
        EXPECT_EQ(simwin::PendingDeletions().size(), r.waits ? 2u : 0u); // the file, its folder
        EXPECT_EQ(simwin::OpenHandleCount(), r.waits ? 1u : 0u);         // held where it waits
        if (otherRuns) {
            EXPECT_TRUE(simwin::IsRunning(otherRuns));
        }
    }
}

} // namespace
