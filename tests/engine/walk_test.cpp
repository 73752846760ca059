/*
** The directory walk: order, counting, display form, stopping, the Program
** Files flags, memory-scan mode, paths that do not fit, names the ANSI form
** cannot reach, folders with reparse points (links, mounted volumes, cloud
** folders) and files kept online, and the files it never opens because no
** record accepts their length.
*/
#include "engine/file_check.h"
#include "engine/signatures.h"
#include "engine/walk.h"
#include "world.h"

#include <filesystem>
#include <fstream>
#include <map>

class WalkTest : public WorldTest {
  protected:
    void Furnish() override { AttachWindow(); }
    /* Posts an Escape key-down when the n-th pump runs. */
    void EscapeAtPump(int n) {
        simwin::OnPeek([n](int count) {
            if (count == n) simwin::PostTestMessage(g_scan.mainWindow, WM_KEYDOWN, VK_ESCAPE);
        });
    }
};

/* Every entry of a folder is shown in listing order, then its subfolders are
   entered: a folder's files come before theirs (z.txt before sub\b.txt). */
TEST_F(WalkTest, ShowsEveryEntryInListingOrderAndCountsOnlyFiles) {
    simwin::WriteFile("C:\\dir\\z.txt", "a");
    simwin::WriteFile("C:\\dir\\sub\\b.txt", "b");
    EXPECT_EQ(WalkDirectory("C:\\dir\\*.*"), 2);
    EXPECT_EQ(statuses_, (std::vector<std::string>{"C:\\dir\\.", "C:\\dir\\..", "C:\\dir\\sub",
                                                   "C:\\dir\\z.txt", "C:\\dir\\sub\\.",
                                                   "C:\\dir\\sub\\..", "C:\\dir\\sub\\b.txt"}));
    EXPECT_EQ(g_scan.filesScanned, 2);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    // about two pumps per entry: files first, then one per subdirectory entry
    EXPECT_GE(simwin::PeekCount(), 14);
}

TEST_F(WalkTest, ShortenPathKeepsBothEnds) {
    const std::string p61 = "A" + std::string(59, 'x') + "Z", p60(60, 'y');
    const struct {
        std::string path;
        int max;
        std::string shown;
    } rows[] = {
        {p61, 60, "A" + std::string(28, 'x') + ".." + std::string(28, 'x') + "Z"},
        {p60, 60, p60},
        {"abcdefghij", 7, "ab...ij"},    // k = 2, three dots
        {"abcdefghij", 3, "abcdefghij"}, // k = 0: copied whole
    };
    for (const auto& r : rows) {
        char out[512];
        ShortenPath(r.path.c_str(), out, r.max);
        EXPECT_EQ(std::string(out), r.shown);
    }
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
        if (simwin::CallAbout() == "C:\\a\\b\\c\\*.*") g_scan.stopRequested = true;
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
                g_scan.stopRequested = true; // as a handler that pump dispatches
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

TEST_F(WalkTest, QuitAndDestroyAreDroppedOtherMessagesAreDispatched) {
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
    // The program posts neither: another program's, which stops nothing.
    simwin::PostTestMessage(other, WM_DESTROY);
    PumpMessages();
    EXPECT_FALSE(g_scan.stopRequested);
    EXPECT_TRUE(seen.empty()); // not dispatched
    simwin::PostTestMessage(nullptr, WM_QUIT);
    PumpMessages();
    EXPECT_FALSE(g_scan.stopRequested);
    // Timer messages of no timer the program set run nothing: one with a
    // procedure to call, one to the thread, the main window's (its timer died
    // before the run); a control's own timer goes to it.
    g_scan.mainWindow = other;
    simwin::PostTestMessage(other, WM_TIMER, 7, 0x401000);
    PumpMessages();
    simwin::PostTestMessage(nullptr, WM_TIMER, 7);
    PumpMessages();
    simwin::PostTestMessage(other, WM_TIMER, 100);
    PumpMessages();
    EXPECT_TRUE(seen.empty());
    g_scan.mainWindow = nullptr;
    simwin::PostTestMessage(other, WM_TIMER, 2);
    PumpMessages();
    EXPECT_EQ(seen, std::vector<UINT>{WM_TIMER});
    seen.clear();
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
    // Only a drive root's pattern notes it, not one a character longer.
    g_scan.programFilesPending = 0;
    WalkDirectory("C:\\P*.*");
    EXPECT_EQ(g_scan.programFilesPending, 0);

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

TEST_F(WalkTest, PathsThatDoNotFitTakeTheShortFormOrArePassedOver) {
    std::string deep = "C:\\" + std::string(200, 'a');
    simwin::WriteFile(deep + "\\" + std::string(50, 'b'), "");         // 254 characters: fits
    simwin::WriteFile(deep + "\\" + std::string(60, 'c'), "");         // 264: does not
    simwin::WriteFile(deep + "\\" + std::string(55, 'e') + "\\x", ""); // pattern too long
    std::string name255(255, 'n');
    simwin::WriteFile("C:\\" + name255, ""); // "C:\" + 255 = 258: fits
    // Without 8.3 names what does not fit is passed over.
    simwin::SetShortNames(false);
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 2);
    for (auto& s : statuses_)
        EXPECT_LE(s.size(), 60u);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    EXPECT_EQ(WalkDirectory(("C:\\" + std::string(300, 'p') + "\\*.*").c_str()), 2);

    // With them the walk goes on in the short form where the long one
    // overflows, and only there.
    simwin::SetShortNames(true);
    g_scan.filesScanned = 0;
    statuses_.clear();
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 4);
    auto shown = [](const std::string& path) {
        char out[512];
        ShortenPath(path.c_str(), out, 60);
        return std::string(out);
    };
    for (const std::string& tail : {"\\" + Alias('c'), "\\" + Alias('e') + "\\x"})
        EXPECT_NE(std::find(statuses_.begin(), statuses_.end(), shown(deep + tail)),
                  statuses_.end())
            << tail;
}

TEST_F(WalkTest, NamesTheAnsiFormCannotReachAreCheckedByTheirShortPaths) {
    g_scan.action = ACTION_DELETE;
    // A character outside the ANSI code page is listed as "?"; one inside it
    // is reached by the long name.
    PlantVariant("C:\\x\\\xE7\x97\x85\xE6\xAF\x92.exe");
    PlantVariant("C:\\x\\caf\xC3\xA9.exe");
    // Long names that reach another entry or none: a best fit (a fullwidth
    // "e" beside a clean evil.exe), a trailing blank, a folder's trailing dot.
    PlantVariant("C:\\x\\\xEF\xBD\x85vil.exe");
    simwin::WriteFile("C:\\x\\evil.exe", "clean");
    for (const char* odd : {"blank.exe ", "sub.\\evil.exe"})
        PlantVariant(std::string("C:\\x\\") + odd);
    std::filesystem::rename(simwin::HostPath("C:\\x\\blank.exe"), root_ + "/c/x/blank.exe ");
    std::filesystem::rename(simwin::HostPath("C:\\x\\sub"), root_ + "/c/x/sub.");
    simwin::WriteFile("C:\\x\\sub\\evil.exe", "clean"); // what "sub." names
    // A chain of folders too deep for the long form: from the fifth level on
    // the folder, and then the file, are reached by their 8.3 names.
    const std::string deepFile =
        FolderChain("C:", 'a', 'f', 55) + "\\" + std::string(40, 'v') + ".exe";
    PlantVariant(deepFile);
    // Below a folder whose long form leaves no room, in the folder's 8.3
    // form: names without an alias of their own, and six folders of 45.
    const std::string wide = "C:\\" + std::string(250, 'l');
    PlantVariant(wide + "\\svchost.exe");
    PlantVariant(wide + "\\sub\\evil.exe");
    const std::string six = FolderChain("C:", 'm', 's', 45);
    PlantVariant(six + "\\specimen-rec-45.exe"); // 298 characters
    // A running program's image path, as the ANSI functions give it: one
    // that two entries answer to (evil.exe and its look-alike) reaches none.
    for (auto [image, reached] :
         {std::pair{"C:\\x\\evil.exe", ""}, {"C:\\x\\sub.\\evil.exe", "C:\\x\\SUB~1\\evil.exe"}}) {
        char path[340];
        strcpy(path, image);
        EXPECT_EQ(ReachImagePath(path, sizeof path), reached[0] != 0);
        EXPECT_STREQ(path, reached[0] ? reached : image);
    }
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 11);
    const std::string shortDeep =
        FolderChain("C:", 'a', 'e', 55) + "\\" + Alias('e') + "\\" + Alias('v', ".exe");
    const std::string removed = "     W32/Phantaxis.Backdoor removed";
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          shortDeep + removed,
                          "C:\\" + Alias('l') + "\\svchost.exe" + removed,
                          "C:\\" + Alias('l') + "\\sub\\evil.exe" + removed,
                          six.substr(0, 232) + "\\" + Alias('r') + "\\SPECIM~1.EXE" + removed,
                          "C:\\x\\BLANK~1.EXE" + removed,
                          "C:\\x\\caf\xE9.exe" + removed,
                          "C:\\x\\__~1.EXE" + removed,
                          "C:\\x\\EVIL~1.EXE" + removed,
                          "C:\\x\\SUB~1\\evil.exe" + removed,
                      }));
    EXPECT_EQ(g_scan.filesInfected, 9);
    EXPECT_EQ(g_scan.filesRemoved, 9);
    EXPECT_FALSE(simwin::FileExists(deepFile));

    // Without 8.3 names they stay unchecked, as Windows leaves no way to them.
    lines_.clear();
    g_scan.filesScanned = 0;
    simwin::SetShortNames(false);
    PlantVariant("C:\\x\\\xE7\x97\x85\xE6\xAF\x92.exe");
    PlantVariant(deepFile);
    const int opens = FileOpens();
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 3);
    EXPECT_EQ(FileOpens(), opens); // nothing by a name that does not reach it
    EXPECT_TRUE(lines_.empty());
    EXPECT_TRUE(simwin::FileExists("C:\\x\\\xE7\x97\x85\xE6\xAF\x92.exe"));
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(WalkTest, FoldersWithReparsePointsAreWalkedOnceUnlessTheyLinkElsewhere) {
    g_scan.action = ACTION_DELETE;
    // A junction and a directory symbolic link back up: shown, not entered.
    PlantVariant("C:\\loop\\inner\\evil.exe");
    simwin::MakeDirLink("C:\\loop\\inner\\a", "C:\\loop");
    simwin::MakeDirLink("C:\\loop\\inner\\b", "C:\\loop", true);
    // A volume without a letter, mounted in two folders and inside itself.
    const std::string volume = root_ + "/volume";
    simwin::MountVolume("C:\\Data", volume);
    PlantVariant("C:\\Data\\evil.exe");
    simwin::MountVolume("C:\\Data\\again", volume);
    simwin::MountVolume("C:\\Mirror", volume);
    // Drive D: mounted in a folder too: walked under its letter only.
    const std::string d = MapDrive('D');
    simwin::MountVolume("C:\\DMount", d);
    PlantVariant("D:\\d.exe");
    // A folder deduplication tags: an ordinary folder.
    PlantVariant("C:\\Dedup\\evil.exe");
    simwin::TagReparsePoint("C:\\Dedup", IO_REPARSE_TAG_DEDUP);
    // Entering a link would branch at every level: the hook ends such a walk.
    simwin::OnCall("FindFirstFileA", [] {
        if (simwin::CallCount("FindFirstFileA") > 100) g_scan.stopRequested = true;
    });
    WalkDirectory("C:\\*.*");
    EXPECT_EQ(WalkDirectory("D:\\*.*"), 4);
    EXPECT_FALSE(g_scan.stopRequested);
    const std::string removed = "     W32/Phantaxis.Backdoor removed";
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "C:\\Data\\evil.exe" + removed, "C:\\Dedup\\evil.exe" + removed,
                          "C:\\loop\\inner\\evil.exe" + removed, "D:\\d.exe" + removed}));
    for (const char* link : {"C:\\loop\\inner\\a", "C:\\loop\\inner\\b", "C:\\DMount",
                             "C:\\Data\\again", "C:\\Mirror"}) {
        EXPECT_EQ(std::count(statuses_.begin(), statuses_.end(), link), 1) << link;
        for (const std::string& s : statuses_) // nothing is shown through it
            EXPECT_NE(s.rfind(link + std::string("\\"), 0), 0u) << s;
    }
}

/* A folder a sync client tags is an ordinary folder; files kept online only
   are counted, never opened (which would fetch them). */
TEST_F(WalkTest, FilesKeptOnlineAreCountedButNeverOpened) {
    g_scan.action = ACTION_DELETE;
    PlantVariant("C:\\OneDrive\\evil.exe");
    simwin::TagReparsePoint("C:\\OneDrive", IO_REPARSE_TAG_CLOUD);
    // The offline bit alone, which any program may set, is no placeholder.
    for (const char* name : {"recall.exe", "offline.exe", "self.exe"})
        PlantVariant(std::string("C:\\OneDrive\\") + name);
    simwin::AddAttributes("C:\\OneDrive\\recall.exe", FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS);
    simwin::AddAttributes("C:\\OneDrive\\offline.exe", FILE_ATTRIBUTE_OFFLINE);
    simwin::TagReparsePoint("C:\\OneDrive\\offline.exe", IO_REPARSE_TAG_CLOUD);
    simwin::AddAttributes("C:\\OneDrive\\self.exe", FILE_ATTRIBUTE_OFFLINE);
    // Only the cloud files filter's tags (IO_REPARSE_TAG_CLOUD to _CLOUD_F,
    // Microsoft's reparse tag list) mark a placeholder: a file compressed by
    // Windows (compact /exe, IO_REPARSE_TAG_WOF) serves its data on every
    // read, offline bit or not.
    for (auto [name, tag] : {std::pair{"cloud3.exe", 0x9000301Au}, {"wof.exe", 0x80000017u}}) {
        PlantVariant(std::string("C:\\OneDrive\\") + name);
        simwin::AddAttributes(std::string("C:\\OneDrive\\") + name, FILE_ATTRIBUTE_OFFLINE);
        simwin::TagReparsePoint(std::string("C:\\OneDrive\\") + name, tag);
    }
    // Virtual items, which any open fetches: a file, and a folder not entered.
    PlantVariant("C:\\OneDrive\\virtual.exe");
    simwin::AddAttributes("C:\\OneDrive\\virtual.exe", FILE_ATTRIBUTE_RECALL_ON_OPEN);
    PlantVariant("C:\\OneDrive\\Shared\\evil.exe");
    simwin::AddAttributes("C:\\OneDrive\\Shared", FILE_ATTRIBUTE_RECALL_ON_OPEN);
    // Compressed, sparse (as placeholders are) and encrypted files are no
    // placeholders: the first two give their data to every read; another
    // user's encrypted file refuses it even to backup intent, and says so.
    for (auto [name, bits] : {std::pair{"compressed.exe", FILE_ATTRIBUTE_COMPRESSED},
                              {"sparse.exe", FILE_ATTRIBUTE_SPARSE_FILE}}) {
        PlantVariant(std::string("C:\\OneDrive\\") + name);
        simwin::AddAttributes(std::string("C:\\OneDrive\\") + name, bits);
    }
    PlantVariant("C:\\OneDrive\\efs.exe");
    simwin::EncryptForAnotherUser("C:\\OneDrive\\efs.exe");
    // An offline file symbolic link is no placeholder: it runs its target.
    MapDrive('Q', DRIVE_REMOVABLE);
    PlantVariant("Q:\\evil.exe");
    simwin::MakeFileLink("C:\\OneDrive\\link.exe", "Q:\\evil.exe");
    simwin::AddAttributes("C:\\OneDrive\\link.exe", FILE_ATTRIBUTE_OFFLINE);
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 11);
    const std::string removed = "     W32/Phantaxis.Backdoor removed";
    EXPECT_EQ(lines_,
              (std::vector<std::string>{
                  "C:\\OneDrive\\compressed.exe" + removed,
                  "C:\\OneDrive\\efs.exe     Unable to check", "C:\\OneDrive\\evil.exe" + removed,
                  "C:\\OneDrive\\link.exe" + removed, "C:\\OneDrive\\self.exe" + removed,
                  "C:\\OneDrive\\sparse.exe" + removed, "C:\\OneDrive\\wof.exe" + removed}));
    for (const char* online :
         {"recall.exe", "offline.exe", "cloud3.exe", "virtual.exe", "Shared\\evil.exe", "efs.exe"})
        EXPECT_TRUE(simwin::FileExists(std::string("C:\\OneDrive\\") + online)) << online;
    EXPECT_EQ(std::count(statuses_.begin(), statuses_.end(), "C:\\OneDrive\\Shared"), 1);
    for (const std::string& s : statuses_) // nothing is shown through it
        EXPECT_NE(s.rfind("C:\\OneDrive\\Shared\\", 0), 0u) << s;
    // Renamed there too: a folder whose tag is no link's cannot be re-aimed.
    g_scan.action = ACTION_RENAME;
    lines_.clear();
    PlantVariant("C:\\OneDrive\\evil.exe");
    WalkDirectory("C:\\OneDrive\\*.*");
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "C:\\OneDrive\\efs.exe     Unable to check",
                          "C:\\OneDrive\\evil.exe     W32/Phantaxis.Backdoor renamed"}));
}

namespace {

/* The walk as it was before it looked at listed lengths: every file is
   handed to the check. */
const FileCheck kCheckEveryFile[] = {
    {"W32/Phantaxis.Trojan", CheckFile, nullptr},
    {nullptr, nullptr, nullptr},
};

/* What a scan showed and did. */
struct ScanOutcome {
    std::vector<std::string> lines, statuses;
    int32_t scanned, infected, removed;
    BOOL restart;
    std::map<std::string, uintmax_t> files; // what is left, with lengths
    std::vector<std::string> runValues;
    int opens;
};

class WalkPrefilterTest : public WalkTest {
  protected:
    void TearDown() override {
        g_fileChecks = FileCheckList;
        g_variantTable = kVariantTable;
        WalkTest::TearDown();
    }

    /* Plants specimen `row`, optionally one byte shorter or with a window
       byte changed. */
    void Plant(int row, const std::string& path, int cut = 0, bool spoil = false) {
        std::vector<uint8_t> bytes = Specimen(row);
        ASSERT_EQ(bytes.size(), (size_t)kVariantTable[row - 1].fileSize) << "specimens not built";
        if (spoil) {
            const uint8_t* p = kVariantTable[row - 1].pattern1;
            auto at = std::search(bytes.begin(), bytes.end(), p, p + 20);
            ASSERT_NE(at, bytes.end());
            at[7] ^= 1;
        }
        bytes.resize(bytes.size() - (size_t)cut);
        simwin::WriteFile(path, bytes);
    }

    /* A sparse file whose listed length is `length`. */
    void PlantSized(const std::string& path, uintmax_t length) {
        simwin::WriteFile(path, "");
        std::filesystem::resize_file(simwin::HostPath(path), length);
    }

    /* A tree of every kind of file the walk meets: variants to delete (one
       read-only, one held by its running program, one started from the
       Run key), near misses of a table length, text files, files of 4 GB
       and more. */
    void PlantTree() {
        Plant(45, "C:\\a\\run.exe");
        simwin::RegSetString(HKEY_LOCAL_MACHINE, AUTOSTART_KEY, "svc", "C:\\a\\run.exe -q");
        Plant(127, "C:\\a\\ro.exe");
        SetFileAttributesA("C:\\a\\ro.exe", FILE_ATTRIBUTE_READONLY);
        Plant(1, "C:\\b\\held.exe");
        simwin::StartProcess({"C:\\b\\held.exe", {}, simwin::Termination::Ends});
        Plant(54, "C:\\b\\spoiled.exe", 0, true);
        Plant(54, "C:\\b\\short.exe", 1);
        simwin::WriteFile("C:\\b\\zeros.exe", std::string(44544, '\0')); // a table length
        for (int i = 0; i < 20; i++)
            simwin::WriteFile("C:\\c\\t" + std::to_string(i) + ".txt", std::string(i * 977, 't'));
        PlantSized("C:\\c\\big1.bin", (1ull << 32) + 5);      // low part fits no record
        PlantSized("C:\\c\\big2.bin", (1ull << 32) + 100952); // low part fits row 1
        PlantSized("C:\\c\\big3.bin", 0x80000000ull + 34304); // 2 GB and more
        // Listed otherwise than they are: a file symbolic link to a variant
        // on a drive the walk does not take (listed with length 0), and a
        // hard-linked name whose entry keeps a stale length.
        MapDrive('Q', DRIVE_REMOVABLE);
        Plant(12, "Q:\\evil.exe");
        simwin::MakeFileLink("C:\\c\\link.exe", "Q:\\evil.exe");
        Plant(28, "C:\\c\\stale.exe");
        simwin::SetListedLength("C:\\c\\stale.exe", 977);
    }

    /* Scans a fresh copy of the tree with `checks` and the table `table`,
       on the Windows `windows` sets (else the default one). */
    ScanOutcome Scan(const FileCheck* checks, const VariantSignature* table,
                     void (*windows)() = nullptr) {
        Renew(windows);
        g_scan.action = ACTION_DELETE;
        PlantTree();
        g_fileChecks = checks;
        g_variantTable = table;
        const int before = FileOpens();
        WalkDirectory("C:\\*.*");
        ScanOutcome out{lines_,
                        statuses_,
                        g_scan.filesScanned,
                        g_scan.filesInfected,
                        g_scan.filesRemoved,
                        g_scan.restartNeeded,
                        {},
                        simwin::RegValueNames(HKEY_LOCAL_MACHINE, AUTOSTART_KEY),
                        FileOpens() - before};
        for (auto& e : std::filesystem::recursive_directory_iterator(root_ + "/c"))
            if (e.is_regular_file()) out.files[e.path().string()] = e.file_size();
        return out;
    }

    /* The tree scanned both ways: everything the scan shows and does is
       the same; returns both for further looks. */
    std::pair<ScanOutcome, ScanOutcome> ScanBothWays(const VariantSignature* table,
                                                     void (*windows)() = nullptr) {
        ScanOutcome all = Scan(kCheckEveryFile, table, windows);
        ScanOutcome skipping = Scan(FileCheckList, table, windows);
        const auto shown = [](const ScanOutcome& o) {
            return std::tie(o.lines, o.statuses, o.scanned, o.infected, o.removed, o.restart,
                            o.files, o.runValues);
        };
        EXPECT_EQ(shown(skipping), shown(all));
        return {all, skipping};
    }

    static constexpr const char* AUTOSTART_KEY =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    std::vector<VariantSignature> table_;
};

} // namespace

TEST_F(WalkPrefilterTest, SkippingUnmatchableLengthsChangesNothingButTheOpens) {
    auto [all, skipping] = ScanBothWays(kVariantTable);
    EXPECT_EQ(all.scanned, 31);
    EXPECT_EQ(all.infected, 5);
    EXPECT_GE(all.lines.size(), 6u); // five disposals and the Run value
    EXPECT_TRUE(all.runValues.empty());
    // Not opened: the text files and the variant one byte short. Opened
    // still: the variants, the spoiled one, the zeros of a table length,
    // every file of 2 GB or more (besides, each detection reads the hosts
    // file), and the link once more, for its target's length.
    EXPECT_EQ(all.opens - skipping.opens, 20);
}

/* Where the file system's record cannot be asked, each file is opened for
   its length: the scan is the same all the same. */
using WalkPrefilterPerVersion = PerRow<WalkPrefilterTest>;
TEST_P(WalkPrefilterPerVersion, WithoutTheListedLengthTheScanIsTheSame) {
    ScanBothWays(kVariantTable, GetParam().set);
}
INSTANTIATE_TEST_SUITE_P(
    Versions, WalkPrefilterPerVersion,
    ::testing::Values(WindowsVersion{"Win95",
                                     +[] { simwin::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 0); }},
                      kNt4),
    ByName());

/* Other size modes: the edges of the tolerance, any length, never. */
TEST_F(WalkPrefilterTest, OtherSizeModesSkipOnlyWhatNoRecordTakes) {
    ScanOutcome all, skipping;
    table_.assign(kVariantTable, kVariantTable + 127);
    table_.push_back(VariantSignature{});
    table_[44].sizeMode = 2, table_[44].fileSize += 4095;   // the specimen just inside
    table_[126].sizeMode = 2, table_[126].fileSize -= 4095; // likewise, from below
    table_[0].sizeMode = 2, table_[0].fileSize += 4096;     // just outside
    table_[53].sizeMode = 0;                                // never
    std::tie(all, skipping) = ScanBothWays(table_.data());
    EXPECT_EQ(all.infected, 4);
    EXPECT_GT(all.opens, skipping.opens);
    table_[53].sizeMode = 3; // any length: every file is a candidate
    std::tie(all, skipping) = ScanBothWays(table_.data());
    EXPECT_EQ(skipping.opens, all.opens + 1); // the link, for its length
}

TEST_F(WalkPrefilterTest, APendingMemoryKillDisposesOfAFileOfAnyLength) {
    // The memory scan re-walks the image of a process it has terminated.
    for (const FileCheck* checks : {kCheckEveryFile, FileCheckList}) {
        Renew(simwin::SetWindows98); // no handle was kept: by path
        simwin::WriteFile("C:\\W\\svc.txt", "not a program");
        g_scan.memoryScanMode = true;
        g_scan.pendingMemoryAction = ACTION_DELETE;
        g_scan.filesInfected = 1;
        g_fileChecks = checks;
        WalkDirectory("C:\\W\\svc.txt");
        EXPECT_FALSE(simwin::FileExists("C:\\W\\svc.txt"));
        EXPECT_EQ(lines_, (std::vector<std::string>{
                              "System Memory    W32/Phantaxis.Backdoor removed",
                              "C:\\W\\svc.txt     W32/Phantaxis.Trojan removed",
                          }));
        EXPECT_EQ(g_scan.filesRemoved, 1);
    }
}

// A large tree in which no file has a table length: not one file is opened.
TEST_F(WalkPrefilterTest, ATreeWithoutCandidatesOpensNoFile) {
    std::vector<int32_t> lengths;
    for (const VariantSignature* r = kVariantTable; r->name[0]; r++)
        lengths.push_back(r->fileSize);
    const std::string host = root_ + "/c";
    int made = 0;
    for (int d = 0; made < 100000; d++) {
        const std::string dir =
            host + "/d" + std::to_string(d / 20) + "/s" + std::to_string(d % 20);
        std::filesystem::create_directories(dir);
        for (int i = 0; i < 250; i++, made++) {
            const std::string f = dir + "/f" + std::to_string(i);
            ASSERT_TRUE(std::ofstream(f).good());
            // Every table length's neighbours, once each; empty files else.
            if (made < 2 * (int)lengths.size())
                std::filesystem::resize_file(
                    f, (uintmax_t)(lengths[(size_t)made / 2] + (made % 2 ? 1 : -1)));
        }
    }
    g_scan.action = ACTION_DELETE;
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 100000);
    EXPECT_EQ(FileOpens(), 0);
    EXPECT_TRUE(lines_.empty());
}
