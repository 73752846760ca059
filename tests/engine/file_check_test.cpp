/*
** The file check: detection of every specimen under its own record, the
** RVA translation, files it must leave alone, and each way of disposing of
** an infected file, with the exact log lines and counters.
*/
#include "engine/file_check.h"
#include "engine/walk.h"
#include "engine/signatures.h"
#include "memory/kill_process.h"
#include "actions/resolve_by_name.h"
#include "platform/wow64.h"
#include "repair/autostart.h"
#include "actions/files.h"
#include "pe_headers.h"
#include "world.h"

#include <algorithm>
#include <filesystem>
#include <array>
#include <tuple>

namespace {

const char* kTrojan = "W32/Phantaxis.Trojan";

class FileCheckTest : public WorldTest {
  protected:
    void TearDown() override {
        g_variantTable = kVariantTable;
        WorldTest::TearDown();
    }

    /* Writes specimen `row` (optionally changed) to `path`. */
    std::vector<uint8_t> Plant(int row, const std::string& path) {
        std::vector<uint8_t> bytes = Specimen(row);
        EXPECT_EQ(bytes.size(), (size_t)kVariantTable[row - 1].fileSize)
            << "specimen " << row << " missing: build make_specimens first";
        simwin::WriteFile(path, bytes);
        return bytes;
    }

    /* Makes the check walk `records` (an end record is added). */
    void UseTable(std::vector<VariantSignature> records) {
        table_ = std::move(records);
        table_.push_back(VariantSignature{});
        g_variantTable = table_.data();
    }

    std::vector<VariantSignature> table_;
};

std::string Name(int row) { return kVariantTable[row - 1].name; }

/* Position of a record's pattern in a specimen's bytes. */
size_t Find(const std::vector<uint8_t>& bytes, const uint8_t* pattern) {
    return std::search(bytes.begin(), bytes.end(), pattern, pattern + 20) - bytes.begin();
}

} // namespace

// Every specimen is found under its own record, by no other record, and not
// at all once it is one byte shorter or one byte of either window changes.
TEST_F(FileCheckTest, EverySpecimenIsDetectedUnderItsOwnRecordOnly) {
    const int rows = 127;
    g_scan.memoryScanMode = true; // report the match, keep the file
    for (int row = 1; row <= rows; row++) {
        SCOPED_TRACE("row " + std::to_string(row));
        const VariantSignature& rec = kVariantTable[row - 1];
        const std::string path = "C:\\rec.exe";
        std::vector<uint8_t> bytes = Plant(row, path);
        ASSERT_FALSE(bytes.empty());

        g_variantTable = kVariantTable;
        g_scan.fileMatched = false;
        const int32_t before = g_scan.filesInfected;
        EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 1);
        EXPECT_TRUE(g_scan.fileMatched);
        EXPECT_EQ(g_scan.filesInfected, before + 1);
        EXPECT_EQ(g_scan.detectionName, Name(row));

        std::vector<VariantSignature> others(kVariantTable, kVariantTable + rows);
        others.erase(others.begin() + (row - 1));
        UseTable(others);
        EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 0) << "another record matches";
        g_variantTable = kVariantTable;

        simwin::WriteFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
        EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 0) << "one byte shorter";
        for (const uint8_t* pattern : {rec.pattern1, rec.pattern2}) {
            std::vector<uint8_t> changed = bytes;
            size_t at = Find(changed, pattern);
            ASSERT_LT(at, changed.size());
            changed[at + 19] ^= 0x40;
            simwin::WriteFile(path, changed);
            EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 0) << "one pattern byte changed";
        }
        EXPECT_EQ(g_scan.filesInfected, before + 1);
    }
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}

TEST_F(FileCheckTest, SizeModesFilterBeforeAnyWindowIsRead) {
    const std::string path = "C:\\size.exe";
    Plant(127, path); // 34304 bytes
    g_scan.memoryScanMode = true;
    VariantSignature rec = kVariantTable[126];
    auto matches = [&](int32_t mode, int32_t size) {
        rec.sizeMode = mode;
        rec.fileSize = size;
        UseTable({rec});
        const bool matched = CheckFile(kTrojan, path.c_str()) == 1;
        // The walk's question before it opens a file gives the same answer.
        EXPECT_EQ(CheckFileCouldHandle(34304), matched) << "mode " << mode << ", size " << size;
        return matched;
    };
    EXPECT_TRUE(matches(1, 34304));
    EXPECT_FALSE(matches(1, 34305));
    EXPECT_FALSE(matches(1, 34303));
    EXPECT_TRUE(matches(2, 34304 + 4095));
    EXPECT_TRUE(matches(2, 34304 - 4095));
    EXPECT_FALSE(matches(2, 34304 + 4096));
    EXPECT_FALSE(matches(2, 34304 - 4096));
    EXPECT_TRUE(matches(3, 1));
    EXPECT_FALSE(matches(0, 34304));
    EXPECT_FALSE(matches(4, 34304));

    // A record that fails the size filter costs no read beyond the headers.
    rec.sizeMode = 1;
    rec.fileSize = 99;
    UseTable({rec, rec, rec});
    const int before = simwin::CallCount("_read");
    EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 0);
    EXPECT_EQ(simwin::CallCount("_read") - before, 5); // pointer, signature, 3 header blocks

    // Lengths of 2 GB and more are always left to the check to judge.
    EXPECT_FALSE(CheckFileCouldHandle(0x7FFFFFFF));
    EXPECT_TRUE(CheckFileCouldHandle(0x80000000u));
    EXPECT_TRUE(CheckFileCouldHandle((1ull << 32) + 1));

    // An empty table (first name empty) matches nothing.
    UseTable({});
    EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 0);
    EXPECT_FALSE(CheckFileCouldHandle(34304));
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}

TEST_F(FileCheckTest, RvaToFileOffsetTranslatesThroughTheSectionTable) {
    simwin::WriteFile("C:\\f.bin", std::string(0x3000, 'x'));
    const int fd = _open("C:\\f.bin", _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    using Sections = std::vector<std::array<uint32_t, 3>>; // VirtualAddress, VirtualSize, raw
    auto image = [](const Sections& sections, uint32_t count) {
        PeImageInfo image = {};
        image.optionalHeader[pe::kSizeOfHeaders + 1] = 0x04; // 0x400
        memcpy(image.fileHeader + pe::kNumberOfSections, &count, 2);
        for (size_t i = 0; i < sections.size(); i++) {
            uint8_t* at = image.sections + i * pe::kSectionHeaderSize;
            memcpy(at + pe::kVirtualAddress, &sections[i][0], 4);
            memcpy(at + pe::kVirtualSize, &sections[i][1], 4);
            memcpy(at + pe::kPointerToRawData, &sections[i][2], 4);
        }
        return image;
    };
    const Sections two = {{0x1000, 0x1000, 0x400}, {0x2000, 0x1000, 0x1400}};
    const std::tuple<Sections, uint32_t, uint32_t> rows[] = {
        // No sections: the RVA is the file position, and 0 means SizeOfHeaders.
        {{}, 0x123, 0x123},
        {{}, 0, 0x400},
        {{}, 0x5000, 0x5000},
        // The first section, the second; a section's end is outside it.
        {two, 0x1010, 0x410},
        {two, 0x2010, 0x1410},
        {two, 0x1FFF, 0x13FF},
        {two, 0x2000, 0x1400},
        {{two[0], {0x2000, 0x1000, 0x2000}}, 0x2000, 0x2000}, // raw data apart
        // Beyond every section: the last one, of two and of three.
        {two, 0x3100, 0x2500},
        {{two[0], two[1], {0x3000, 0x100, 0x2000}}, 0x3200, 0x2200},
        // Not less than the file's length: the RVA itself.
        {two, 0x3C00, 0x3C00},
        {two, 0x3BFF, 0x2FFF},
        // Below the first section: the subtraction wraps, far beyond the file.
        {two, 0x500, 0x500},
        // A translation to position 0 reads at SizeOfHeaders instead.
        {{{0x1000, 0x1000, 0}, two[1]}, 0x1000, 0x400},
        // The first section whose end lies above the RVA decides, even when a
        // later one starts lower.
        {{{0x1000, 0x3000, 0x400}, {0x2000, 0x1000, 0x800}}, 0x2000, 0x1400},
    };
    for (const auto& [sections, rva, position] : rows) {
        SCOPED_TRACE(testing::Message() << "RVA " << rva << ", " << sections.size() << " sections");
        EXPECT_EQ(RvaToFileOffset(image(sections, (uint32_t)sections.size()), rva, fd), position);
    }
    // A count beyond the 20 headers the buffer holds is never followed past it.
    EXPECT_EQ(RvaToFileOffset(image(two, 0xFFFF), 0x7FFFFF00, fd), 0x7FFFFF00u);
    _close(fd);
}

TEST_F(FileCheckTest, ADisplacementWrappingPast2GbNeverMatches) {
    // Entry + offset lands above 2 GB: a negative 32-bit seek, which fails.
    std::vector<uint8_t> bytes = Specimen(127);
    ASSERT_FALSE(bytes.empty());
    simwin::WriteFile("C:\\w.exe", bytes);
    g_scan.memoryScanMode = true;
    VariantSignature rec = kVariantTable[126];
    const int32_t entry = (int32_t)Pe(bytes).entry; // below 64 KB
    ASSERT_GT(entry, 0);
    rec.offset1 = -entry - 0x100; // wraps to 0xFFFFFF00
    UseTable({rec});
    EXPECT_EQ(CheckFile(kTrojan, "C:\\w.exe"), 0);
    rec.offset1 = INT32_MIN; // entry + offset just above 2 GB
    UseTable({rec});
    EXPECT_EQ(CheckFile(kTrojan, "C:\\w.exe"), 0);
    EXPECT_EQ(g_scan.filesInfected, 0);

    // A window that runs past the end of the file is a short read: no match.
    rec = kVariantTable[126];
    rec.sizeMode = 3;
    std::vector<uint8_t> tail = bytes;
    const size_t at = std::max(Find(tail, rec.pattern1), Find(tail, rec.pattern2));
    tail.resize(at + 19);
    simwin::WriteFile("C:\\w.exe", tail);
    UseTable({rec});
    EXPECT_EQ(CheckFile(kTrojan, "C:\\w.exe"), 0);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}

TEST_F(FileCheckTest, FilesThatAreNotPeFilesAreLeftAloneSilently) {
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    std::vector<uint8_t> base = Specimen(54); // 44032 bytes, three sections at most
    ASSERT_FALSE(base.empty());
    VariantSignature any = kVariantTable[53];
    any.sizeMode = 3; // only the headers can reject these files
    UseTable({any});
    for (const HeaderDamage& damage : HeaderDamages()) {
        std::vector<uint8_t> bytes;
        if (damage.outcome != Outcome::Refused) continue;
        SCOPED_TRACE(damage.name);
        ASSERT_TRUE(Damage(base, any, damage, &bytes));
        simwin::WriteFile("C:\\odd.exe", bytes);
        int before = simwin::CallCount("_read");
        EXPECT_EQ(CheckFile(kTrojan, "C:\\odd.exe"), 0);
        EXPECT_LE(simwin::CallCount("_read") - before, 5);
        EXPECT_TRUE(simwin::FileExists("C:\\odd.exe"));
        EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
    }
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(g_scan.filesInfected, 0);

    // The 20-section limit itself passes, reading exactly 800 bytes.
    std::vector<uint8_t> twenty = base;
    const uint32_t header = Pe(base).header;
    Put16(twenty, header + pe::kNtFileHeader + pe::kNumberOfSections, 20);
    simwin::WriteFile("C:\\twenty.exe", twenty);
    int fd = _open("C:\\twenty.exe", _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    PeImageInfo image;
    EXPECT_TRUE(ReadFileHeader(fd, &image));
    EXPECT_TRUE(ReadSectionTable(fd, &image));
    EXPECT_EQ(image.headerOffset, 0x80);
    EXPECT_EQ(memcmp(image.sections, &twenty[0x178], 800), 0);
    _close(fd);
    // The file header with 0x10080 in e_lfanew keeps only the low 16 bits.
    std::vector<uint8_t> far;
    const auto& damages = HeaderDamages();
    auto named = std::find_if(damages.begin(), damages.end(),
                              [](const HeaderDamage& d) { return d.name == "header-above-65535"; });
    ASSERT_TRUE(named != damages.end() && Damage(base, any, *named, &far));
    ASSERT_EQ(Get32(far, pe::kDosNewHeader), 0x10080u);
    simwin::WriteFile("C:\\far.exe", far);
    fd = _open("C:\\far.exe", _O_RDONLY | _O_BINARY);
    EXPECT_FALSE(ReadFileHeader(fd, &image));
    EXPECT_EQ(image.headerOffset, 0x80);
    _close(fd);
}

TEST_F(FileCheckTest, UnopenableFilesAreLoggedAsNotChecked) {
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    EXPECT_EQ(CheckFile(kTrojan, "C:\\missing.exe"), 0);
    Plant(1, "C:\\held.exe");
    simwin::StartProcess({"C:\\other.exe", {"C:\\held.exe"}});
    EXPECT_EQ(CheckFile(kTrojan, "C:\\held.exe"), 0);
    EXPECT_EQ(lines_, std::vector<std::string>{"C:\\held.exe     Unable to check"});
    EXPECT_EQ(g_scan.filesInfected, 0);
    EXPECT_TRUE(simwin::FileExists("C:\\held.exe"));
}

// A file its owner holds open for deleting, sharing everything, is read all
// the same, also while it runs (its image's open shares reading and deleting).
/* Files named as DOS devices, which a user makes through the \\?\ form:
   every name as its path opens it reaches the device (NUL reads as an empty
   file), so NT reaches each as the file it is, and 9x, which has no such
   form, leaves each with a line unless an 8.3 name of its own reaches it.
   Names only NT reads as devices (COM with a superscript digit) are plain
   files on 9x, as COM0 and LPT0 are, which NT opens by \\?\ all the same; a
   device of a name the program does not know (a driver 9x loaded, a link
   NT follows to one) is never read as a file. Their lines show the path as listed. */
using FileCheckPerVersion = PerRow<FileCheckTest>;

TEST_P(FileCheckPerVersion, FilesNamedAsDevicesAreCheckedAsTheFilesTheyAre) {
    struct Named {
        std::string name;
        bool deviceOn9x;
    } const names[] = {{"nul.exe", true},    {"aux.exe", true},      {"com1.exe", true},
                       {"con.exe", true},    {"prn.exe", true},      {"lpt1.exe", true},
                       {"CON", true},        {"Aux .x.exe", true},   {"conin$.exe", false},
                       {"clock$.exe", true}, {"com\xB9.exe", false}, {"config$.exe", true},
                       {"com0.exe", false},  {"LPT0", false}};
    Renew(GetParam());
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    const bool nt = GetParam().set != simwin::SetWindows98;
    simwin::LoadDosDriver("CONFIG$"); // 9x's IO.SYS has one of this name
    std::vector<std::string> want;
    for (const Named& n : names) {
        Plant(45, "\\\\?\\C:\\dev\\" + n.name);
        // 9x reaches a name with an 8.3 name of its own by that one.
        const bool alias = n.name == "Aux .x.exe";
        const bool left = !nt && n.deviceOn9x && !alias;
        want.push_back("C:\\dev\\" + (alias && !nt ? "AUXX~1.EXE" : n.name) + "     " +
                       (left ? "Unable to check" : Name(45) + " removed"));
    }
    // A file symbolic link (Vista and later) to a device: no disk file.
    const bool links = GetParam().set == simwin::SetWindows10;
    if (links) {
        std::filesystem::create_symlink("/dev/null", simwin::HostPath("C:\\dev\\null.exe"));
        want.push_back("C:\\dev\\null.exe     Unable to check");
    }
    WalkDirectory("C:\\dev\\*.*");
    std::vector<std::string> got = lines_;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    for (const Named& n : names)
        EXPECT_EQ(simwin::FileExists("\\\\?\\C:\\dev\\" + n.name),
                  !nt && n.deviceOn9x && n.name != "Aux .x.exe")
            << n.name;
    EXPECT_EQ(std::filesystem::is_symlink(simwin::HostPath("C:\\dev\\null.exe")), links);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Versions, FileCheckPerVersion,
                         ::testing::Values(kWin98, kNt4, kXp, kWin10), ByName());

/* A file another program holds an oplock on, sized to pass a record's
   filter: nothing waits for its owner, and the file is left with one line. A
   filter oplock lets the reading through (it shares the read and asks only
   to read), the open for deleting breaks it; a Read-Handle lease (10) holds
   up the delete disposition until the time limit cancels it. */
using FileCheckPerNtVersion = PerRow<FileCheckTest>;

TEST_P(FileCheckPerNtVersion, AnOplockedFileIsLeftWithoutWaiting) {
    const simwin::Oplock kLease = simwin::Oplock::ReadHandle;
    for (auto [kind, refused] : {std::pair{simwin::Oplock::Batch, false},
                                 {simwin::Oplock::Filter, false},
                                 {kLease, false},
                                 {kLease, true}}) {
        Renew(GetParam());
        AttachWindow();
        // A cancel that does not end the change leaves it, and its handle
        // open: closing it would wait.
        if (refused) simwin::FailCall("CancelSynchronousIo", ERROR_NOT_FOUND, -1);
        g_scan.action = ACTION_DELETE;
        Plant(45, "C:\\op\\locked.exe");
        Plant(45, "C:\\op\\locked2.exe");
        const bool granted =
            kind == simwin::Oplock::Batch ||
            (kind == simwin::Oplock::Filter && GetParam() != simwin::SetWindowsNt4) ||
            GetParam() == simwin::SetWindows10;
        for (const char* file : {"C:\\op\\locked.exe", "C:\\op\\locked2.exe"})
            EXPECT_EQ(simwin::HoldOplock(file, kind), granted);
        lines_.clear();
        WalkDirectory("C:\\op\\*.*");
        EXPECT_EQ(simwin::OplockWaits(), 0);
        if (!granted) continue; // no such kind there
        std::vector<std::string> want;
        for (const char* file : {"C:\\op\\locked.exe", "C:\\op\\locked2.exe"}) {
            want.push_back(std::string(file) +
                           (kind == simwin::Oplock::Batch
                                ? "     Unable to check"
                                : "     W32/Phantaxis.Backdoor Unable to remove"));
            EXPECT_TRUE(simwin::FileExists(file));
        }
        EXPECT_EQ(lines_, want);
        EXPECT_EQ(simwin::OpenHandleCount(), refused ? 2u : 0u);
        // The second file held up waits less before its cancel.
        const std::vector<DWORD> limits =
            refused ? std::vector<DWORD>{2000, 100} : std::vector<DWORD>{2000, 2000, 100, 2000};
        if (kind == kLease) {
            EXPECT_EQ(simwin::WaitLimits(), limits);
        }
    }
}

/* After a held-up change the next has 100 ms; a change thread the busy
   machine has not run by then is held by no one and gets its whole time. */
TEST_P(FileCheckPerNtVersion, AChangeThreadStartedLateIsNotGivenUp) {
    if (GetParam() != simwin::SetWindows10) return; // leases are Windows 7's
    Renew(GetParam());
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    Plant(45, "C:\\op\\a.exe");
    Plant(45, "C:\\op\\b.exe");
    ASSERT_TRUE(simwin::HoldOplock("C:\\op\\a.exe", simwin::Oplock::ReadHandle));
    simwin::threadStartDelay = 200;
    WalkDirectory("C:\\op\\*.*");
    EXPECT_TRUE(simwin::FileExists("C:\\op\\a.exe"));
    EXPECT_FALSE(simwin::FileExists("C:\\op\\b.exe"));
    EXPECT_EQ(simwin::WaitLimits(), (std::vector<DWORD>{2000, 2000, 100, 2000}));
}

TEST_P(FileCheckPerNtVersion, AFileHeldOpenForDeletingIsReadAllTheSame) {
    Renew(GetParam());
    RunVariant("C:\\tb.exe");
    HANDLE holder = CreateFileA("C:\\tb.exe", DELETE, 7, nullptr, OPEN_EXISTING, 0, 0);
    g_scan.memoryScanMode = true;
    EXPECT_EQ(CheckFile(kTrojan, "C:\\tb.exe"), 1);
    ReleaseMatchedImage();
    CloseHandle(holder);
}

INSTANTIATE_TEST_SUITE_P(Versions, FileCheckPerNtVersion, ::testing::Values(kNt4, kXp, kWin10),
                         ByName());

TEST_F(FileCheckTest, AutostartNameIsEmptiedOnlyBeforeTheFirstDetection) {
    simwin::WriteFile("C:\\clean.txt", "nothing here");
    strcpy(g_scan.autostartValueName, "Updater");
    g_scan.filesInfected = 2;
    CheckFile(kTrojan, "C:\\clean.txt");
    EXPECT_STREQ(g_scan.autostartValueName, "Updater");
    g_scan.filesInfected = 0;
    CheckFile(kTrojan, "C:\\clean.txt");
    EXPECT_STREQ(g_scan.autostartValueName, "");
}

TEST_F(FileCheckTest, DeleteRemovesTheFileWithOneLine) {
    AttachWindow();
    for (int32_t action : {ACTION_DELETE, ACTION_DELETE_TOO}) {
        lines_.clear();
        g_scan.action = action;
        const std::string path = "C:\\Downloads\\setup.exe";
        Plant(1, path);
        EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 1);
        EXPECT_EQ(lines_, std::vector<std::string>{path + "     " + Name(1) + " removed"});
        EXPECT_FALSE(simwin::FileExists(path));
        EXPECT_STREQ(g_scan.detectionName, Name(1).c_str());
        EXPECT_STREQ(g_scan.statusText, path.c_str());
        EXPECT_STREQ(g_scan.currentFile, "");
        EXPECT_FALSE(g_scan.fileMatched);
    }
    EXPECT_EQ(g_scan.filesInfected, 2);
    EXPECT_EQ(g_scan.filesRemoved, 2);
    EXPECT_FALSE(g_scan.restartNeeded);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);

    // A read-only file has its attributes reset first.
    lines_.clear();
    Plant(127, "C:\\WINDOWS\\ro.exe");
    ASSERT_TRUE(
        SetFileAttributesA("C:\\WINDOWS\\ro.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\ro.exe"), 1);
    EXPECT_EQ(lines_,
              std::vector<std::string>{"C:\\WINDOWS\\ro.exe     " + Name(127) + " removed"});
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\ro.exe"));
    EXPECT_EQ(g_scan.filesRemoved, 3);

    // A file of two names (a hard link elsewhere) stays under the other one:
    // not removed, nor left to the restart. Its last name takes it. (By path,
    // on Windows 9x alone, there are no hard links.)
    lines_.clear();
    Plant(127, "C:\\u\\tb.exe");
    std::filesystem::create_hard_link(simwin::HostPath("C:\\u\\tb.exe"),
                                      simwin::HostPath("C:\\WINDOWS\\tb.exe"));
    EXPECT_EQ(CheckFile(kTrojan, "C:\\u\\tb.exe"), 1);
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\tb.exe"), 1);
    EXPECT_EQ(lines_,
              (std::vector<std::string>{"C:\\u\\tb.exe     " + Name(127) + " Unable to remove",
                                        "C:\\WINDOWS\\tb.exe     " + Name(127) + " removed"}));
    EXPECT_EQ(g_scan.filesRemoved, 4);
    EXPECT_FALSE(g_scan.restartNeeded);
}

/* Each platform finds the process by its image path: 9x by tool help,
   NT 4.0 (where psapi.dll is installed) and later by psapi or kernel32. */
TEST_P(FileCheckPerVersion, ARunningFileIsReleasedByTerminatingItsProcess) {
    Renew(GetParam());
    if (GetParam().set == simwin::SetWindowsNt4) simwin::SetLibraryPresent("psapi.dll", true);
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    simwin::ServeProcessPerformanceData();
    const DWORD pid = RunVariant("C:\\tb.exe");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\tb.exe"), 1);
    EXPECT_FALSE(simwin::IsRunning(pid));
    EXPECT_EQ(simwin::ExitCodeOf(pid), 0u);
    // The NT family deletes through the handle the check opened.
    const bool byPath = GetParam().set == simwin::SetWindows98;
    EXPECT_EQ(simwin::CallCount("DeleteFileA"), byPath ? 2 : 0);
    EXPECT_EQ(lines_, std::vector<std::string>{"C:\\tb.exe     W32/Phantaxis.Backdoor removed"});
    EXPECT_FALSE(simwin::FileExists("C:\\tb.exe"));
    EXPECT_EQ(g_scan.filesRemoved, 1);
    EXPECT_FALSE(g_scan.restartNeeded);
    EXPECT_TRUE(simwin::Questions().empty());
}

/* A file that stays locked: NT 4.0 schedules the file's own path (it has no
   junctions); on 2000 and later the file waits for the restart in a folder
   of its own. A file named as a device waits by its \\?\ name. */
namespace {
struct LockedRow {
    const char* name;
    WindowsVersion version;
    const char* failing; // fails, on the handle, from its second call on
    int deletes;         // so many times: the deletes, not the move after them
    bool openFails;
    const char* file; // in the root of C:
};
} // namespace
using LockedFileTest = PerRow<FileCheckTest, LockedRow>;

TEST_P(LockedFileTest, IsLeftForTheRestart) {
    const LockedRow& r = GetParam();
    const std::string folder = "C:\\WINDOWS\\CleanPhantaxis-restart-*";
    auto toDescriptor = Resolve<BOOL(WINAPI*)(LPCSTR, DWORD, void**, ULONG*)>(
        "advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    auto setSecurity =
        Resolve<BOOL(WINAPI*)(HANDLE, DWORD, void*)>("advapi32.dll", "SetKernelObjectSecurity");
    Renew(r.version);
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    simwin::MakeDir("C:\\WINDOWS");
    const std::string path = std::string("C:\\") + r.file;
    const std::string reach = simwin::NamesDevice(path) ? "\\\\?\\" : "";
    const bool moves = r.version.set != simwin::SetWindowsNt4;
    Plant(45, reach + path);
    // Its owner holds it for its security from before the take-over.
    HANDLE owner = CreateFileA((reach + path).c_str(), WRITE_DAC, 7, nullptr, OPEN_EXISTING, 0, 0);
    simwin::FailCall(r.failing, ERROR_ACCESS_DENIED, r.deletes, 1);
    if (r.openFails) simwin::FailCall("CreateFileA", ERROR_SHARING_VIOLATION);
    EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 1);
    EXPECT_EQ(lines_,
              std::vector<std::string>{path + "     W32/Phantaxis.Backdoor Unable to remove"});
    std::vector<std::string> pending{reach + (moves ? folder + "\\" + r.file : path)};
    if (moves) pending.push_back(folder); // the emptied folder after it
    EXPECT_EQ(PendingDeletionsMasked(), pending);
    ASSERT_FALSE(simwin::PendingDeletions().empty());
    EXPECT_TRUE(simwin::FileExists(simwin::PendingDeletions()[0]));
    EXPECT_EQ(g_scan.filesRemoved, 0);
    EXPECT_EQ(g_scan.filesInfected, 1);
    EXPECT_TRUE(g_scan.restartNeeded);
    // That handle keeps its right to give the file back Everyone's full
    // control, but while the program holds the file where it waits,
    // Windows refuses every open for deleting it, for sharing.
    void* everyone = nullptr;
    ASSERT_TRUE(toDescriptor("D:(A;;FA;;;WD)", 1, &everyone, nullptr));
    EXPECT_TRUE(setSecurity(owner, DACL_SECURITY_INFORMATION, everyone));
    LocalFree(everyone);
    const std::string waits = simwin::PendingDeletions()[0]; // NT 4.0: its own path
    EXPECT_EQ(MoveFileA(waits.c_str(), "C:\\out.exe"), !moves);
    EXPECT_EQ(simwin::FileExists(waits), moves);
    EXPECT_TRUE(RestartStillNeeded());
    CloseHandle(owner);
    EXPECT_EQ(CheckFile(kTrojan, waits.c_str() + reach.size()), 0); // met again by the walk

    // An earlier deletion waiting for the restart keeps the restart offer.
    Plant(45, reach + path);
    simwin::AllowDelayedMoves(false);
    lines_.clear();
    EXPECT_EQ(CheckFile(kTrojan, path.c_str()), 1);
    EXPECT_EQ(lines_.size(), 1u);
    EXPECT_TRUE(g_scan.restartNeeded);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
    // A file in a waiting folder is held there until the program exits.
    EXPECT_EQ(simwin::OpenHandleCount(), moves ? 1u : 0u);
    if (!moves) return; // a second name: one the restart keeps
    std::filesystem::create_hard_link(simwin::HostPath(waits), simwin::HostPath("C:\\k.exe"));
    EXPECT_FALSE(RestartStillNeeded());
    EXPECT_EQ(CheckFile(kTrojan, "C:\\k.exe"), 1); // met by its other name: checked
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LockedFileTest,
    ::testing::Values(
        LockedRow{"Nt4", kNt4, "NtSetInformationFile", 2, false, "tb.exe"},
        LockedRow{"Xp", kXp, "NtSetInformationFile", 2, false, "tb.exe"},
        LockedRow{"Win10", kWin10, "SetFileInformationByHandle", 1, false, "tb.exe"},
        LockedRow{"XpNoHandle", kXp, "NtSetInformationFile", 2, true, "tb.exe"},
        LockedRow{"Nt4NamedAsADevice", kNt4, "NtSetInformationFile", 2, false, "aux.exe"},
        LockedRow{"XpNamedAsADevice", kXp, "NtSetInformationFile", 2, false, "com1.exe"},
        LockedRow{"Win10NamedAsADevice", kWin10, "SetFileInformationByHandle", 1, false,
                  "nul.exe"}),
    ByName());

/* Past the last place on the list a file is not moved, nor one given a
   second name as it moves (on the host: simwin makes none). */
TEST_F(FileCheckTest, PastTheLastWaitingPlaceALockedFileStays) {
    Renew(simwin::SetWindowsXp);
    g_scan.action = ACTION_DELETE;
    simwin::MakeDir("C:\\WINDOWS");
    const std::string v18 = simwin::HostPath("C:\\v18.exe"), k = simwin::HostPath("C:\\k.exe");
    std::error_code once; // while v18 has its first name
    simwin::OnCall("CreateDirectoryA", [&] { std::filesystem::create_hard_link(v18, k, once); });
    for (int i = 18; i >= 1; i--) {
        const std::string path = "C:\\v" + std::to_string(i) + ".exe";
        Plant(45, path);
        simwin::FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED, 2, 1);
        CheckFile(kTrojan, path.c_str());
    }
    EXPECT_FALSE(simwin::FileExists("C:\\v2.exe")); // in v18's place
    EXPECT_TRUE(simwin::FileExists("C:\\v1.exe"));
}

/* A drive with no place out of users' reach (not the Windows folder's):
   nothing waits there, and the log says so. */
TEST_F(FileCheckTest, OnADriveWithoutAProtectedFolderNothingWaits) {
    for (bool handle : {true, false}) {
        SCOPED_TRACE(handle ? "through the handle" : "by path");
        Renew(simwin::SetWindowsXp);
        AttachWindow();
        g_scan.action = ACTION_DELETE;
        simwin::SetWindowsDirectory("D:\\WINDOWS");
        Plant(45, "C:\\tb.exe");
        simwin::FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED, -1, 1);
        if (!handle) simwin::FailCall("CreateFileA", ERROR_SHARING_VIOLATION);
        EXPECT_EQ(CheckFile(kTrojan, "C:\\tb.exe"), 1);
        EXPECT_EQ(lines_, (std::vector<std::string>{
                              "C:\\tb.exe     W32/Phantaxis.Backdoor Unable to remove",
                              "C:\\tb.exe     W32/Phantaxis.Backdoor Not scheduled for restart: "
                              "no protected folder on its drive"}));
        EXPECT_TRUE(simwin::PendingDeletions().empty());
        EXPECT_FALSE(g_scan.restartNeeded);
    }
}

/* Another program holds the file, sharing the delete: Windows only marks
   it, and its name stays until that handle closes. Not removed; a file so
   marked cannot be opened to be moved, but NT 4.0 schedules its path. A
   holder with DELETE access from before the take-over keeps it: the file
   is moved and scheduled, but its holder could move it out again. On XP
   with no handle kept from the check, nothing proves what the path names
   at the disposal: nothing is deleted and nothing waits. Its holder then
   moves it out of the waiting folder, which its line says when the restart
   is offered. */
namespace {
struct HolderRow {
    const char* name;
    WindowsVersion version;
    bool byPath;
    DWORD access;
    size_t scheduled;
};
} // namespace
using HeldFileTest = PerRow<FileCheckTest, HolderRow>;

TEST_P(HeldFileTest, IsNotRemovedWhileItsHolderKeepsIt) {
    const HolderRow& r = GetParam();
    Renew(r.version);
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    simwin::MakeDir("C:\\WINDOWS");
    Plant(45, "C:\\tb.exe");
    HANDLE holder = CreateFileA("C:\\tb.exe", r.access, 7, nullptr, OPEN_EXISTING, 0, 0);
    if (r.byPath) simwin::FailCall("CreateFileA", ERROR_SHARING_VIOLATION, 2);
    EXPECT_EQ(CheckFile(kTrojan, "C:\\tb.exe"), 1);
    std::vector<std::string> lines{"C:\\tb.exe     W32/Phantaxis.Backdoor Unable to remove"};
    if (r.access & DELETE)
        lines.push_back("C:\\tb.exe     W32/Phantaxis.Backdoor Scheduled for restart, but a "
                        "program holding it may move it away");
    EXPECT_EQ(lines_, lines);
    EXPECT_EQ(g_scan.filesRemoved, 0);
    EXPECT_EQ(g_scan.restartNeeded, !r.byPath && !(r.access & DELETE));
    EXPECT_EQ(simwin::PendingDeletions().size(), r.scheduled);
    if (r.scheduled == 2) {
        EXPECT_TRUE(MoveFileA(simwin::PendingDeletions()[0].c_str(), "C:\\out.exe"));
        EXPECT_FALSE(RestartStillNeeded());
        lines.push_back(lines[0]); // at the restart's offer: not removed
        EXPECT_EQ(lines_, lines);
    }
    CloseHandle(holder);
    EXPECT_EQ(simwin::FileExists("C:\\tb.exe"), r.byPath);
}

INSTANTIATE_TEST_SUITE_P(Rows, HeldFileTest,
                         ::testing::Values(HolderRow{"Nt4", kNt4, false, GENERIC_READ, 1},
                                           HolderRow{"Win10", kWin10, false, GENERIC_READ, 0},
                                           HolderRow{"XpByPath", kXp, true, GENERIC_READ, 0},
                                           HolderRow{"XpHeldForDeleting", kXp, false,
                                                     GENERIC_READ | DELETE, 2}),
                         ByName());

TEST_F(FileCheckTest, FailingToResetAttributesEndsTheDisposal) {
    for (bool handle : {false, true}) {
        SCOPED_TRACE(handle ? "through the handle" : "by path");
        Renew();
        AttachWindow();
        g_scan.action = ACTION_DELETE;
        if (!handle) simwin::SetWindows98();
        Plant(54, "C:\\g.exe");
        simwin::FailCall(handle ? "NtSetInformationFile" : "SetFileAttributesA",
                         ERROR_ACCESS_DENIED);
        EXPECT_EQ(CheckFile(kTrojan, "C:\\g.exe"), 1);
        EXPECT_EQ(lines_,
                  std::vector<std::string>{"C:\\g.exe     " + Name(54) + " Unable to remove"});
        EXPECT_EQ(simwin::CallCount("DeleteFileA") + simwin::CallCount("NtSetInformationFile"),
                  handle ? 1 : 0);
        EXPECT_TRUE(simwin::FileExists("C:\\g.exe"));
        EXPECT_FALSE(g_scan.restartNeeded);
        EXPECT_EQ(g_scan.filesRemoved, 0);
    }
}

TEST_F(FileCheckTest, RenameChangesTheExtensionOnlyReportOnlyNothing) {
    AttachWindow();
    g_scan.action = ACTION_RENAME;
    Plant(1, "C:\\my.dir\\b.exe");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\my.dir\\b.exe"), 1);
    EXPECT_TRUE(simwin::FileExists("C:\\my.dir\\b.Vxe"));
    EXPECT_FALSE(simwin::FileExists("C:\\my.dir\\b.exe"));

    // Failures: the move refuses; a name without an extension (a dot in the
    // folder name must not move the file elsewhere); a name ending in a dot.
    simwin::FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED, 1);
    Plant(1, "C:\\my.dir\\c.exe");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\my.dir\\c.exe"), 1);
    simwin::MakeDir("C:\\my.Vir");
    Plant(1, "C:\\my.dir\\noext");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\my.dir\\noext"), 1);
    EXPECT_TRUE(simwin::FileExists("C:\\my.dir\\noext"));
    EXPECT_FALSE(simwin::FileExists("C:\\my.Vir\\noext"));
    // Under WoW64 the real System32's file is renamed there, by its real path.
    simwin::SetWow64(true);
    DetectWow64();
    Plant(1, "C:\\WINDOWS\\system32\\d.exe");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\system32\\d.exe"), 1);
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "C:\\my.dir\\b.exe     " + Name(1) + " renamed",
                          "C:\\my.dir\\c.exe     " + Name(1) + " Rename failed",
                          "C:\\my.dir\\noext     " + Name(1) + " Rename failed",
                          "C:\\WINDOWS\\system32\\d.exe     " + Name(1) + " renamed",
                      }));
    EXPECT_TRUE(simwin::FileExists("C:\\my.dir\\c.exe"));
    EXPECT_EQ(g_scan.filesRemoved, 0);
    EXPECT_EQ(g_scan.filesInfected, 4);

    // Report only and unknown actions leave the file; report only says so.
    lines_.clear();
    g_scan.filesInfected = 0;
    const int touches = simwin::CallCount("DeleteFileA") + simwin::CallCount("MoveFileA");
    g_scan.action = ACTION_REPORT_ONLY;
    Plant(28, "C:\\big.exe");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\big.exe"), 1);
    g_scan.action = 0;
    EXPECT_EQ(CheckFile(kTrojan, "C:\\big.exe"), 1);
    g_scan.action = 104;
    EXPECT_EQ(CheckFile(kTrojan, "C:\\big.exe"), 1);
    EXPECT_EQ(lines_, std::vector<std::string>{"C:\\big.exe     " + Name(28) +
                                               " not disinfected as per user's selection"});
    EXPECT_TRUE(simwin::FileExists("C:\\big.exe"));
    EXPECT_EQ(g_scan.filesInfected, 3);
    EXPECT_EQ(g_scan.filesRemoved, 0);
    EXPECT_EQ(simwin::CallCount("DeleteFileA") + simwin::CallCount("MoveFileA"), touches);
}

TEST_F(FileCheckTest, MemoryScanModeOnlyReportsTheMatch) {
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    g_scan.memoryScanMode = true;
    g_scan.filesInfected = 4;
    Plant(127, "C:\\WINDOWS\\svc.exe");
    simwin::RegSetString(HKEY_LOCAL_MACHINE, AUTOSTART_RUN_KEY, "svc", "C:\\WINDOWS\\svc.exe");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\svc.exe"), 1);
    EXPECT_TRUE(g_scan.fileMatched);
    EXPECT_EQ(g_scan.filesInfected, 5);
    // The autostart value goes at once; no line for the file itself.
    EXPECT_EQ(lines_,
              std::vector<std::string>{"System Registry     W32/Phantaxis.Backdoor removed"});
    EXPECT_FALSE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, AUTOSTART_RUN_KEY, "svc"));
    EXPECT_TRUE(simwin::FileExists("C:\\WINDOWS\\svc.exe"));
    EXPECT_STREQ(g_scan.currentFile, "c:\\windows\\svc.exe"); // the autostart walk lowered it
    EXPECT_STREQ(g_scan.detectionName, Name(127).c_str());
    // The image stays open for its disposal, which matches it again: the
    // file changed meanwhile is no longer the variant and stays, which its
    // line says.
    EXPECT_EQ(simwin::OpenDescriptorCount(), 1u);
    simwin::WriteFile("C:\\WINDOWS\\svc.exe", "no longer the variant");
    g_scan.pendingMemoryAction = ACTION_DELETE;
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\svc.exe"), 0);
    EXPECT_EQ(lines_.back(), "C:\\WINDOWS\\svc.exe     W32/Phantaxis.Trojan Unable to remove");
    EXPECT_EQ(lines_[lines_.size() - 2], "System Memory    W32/Phantaxis.Backdoor removed");
    EXPECT_TRUE(simwin::FileExists("C:\\WINDOWS\\svc.exe"));
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}

TEST_F(FileCheckTest, MemoryKillDisposalDisposesWithoutMatching) {
    // The memory scan matched the image, terminated its process, and walks it
    // again: the window shows the display form, detectionName the match. On
    // 9x, where no handle was kept, by path.
    simwin::SetWindows98();
    AttachWindow();
    g_scan.action = ACTION_DELETE;
    g_scan.memoryScanMode = true; // the pending action exists only there
    g_scan.pendingMemoryAction = ACTION_DELETE;
    g_scan.filesInfected = 1;
    strcpy(g_scan.detectionName, "W32/Phantaxis.A.Backdoor");
    strcpy(g_scan.statusText, "C:\\...\\svc.exe");
    simwin::WriteFile("C:\\WINDOWS\\svc.exe", "not even a PE file");
    EXPECT_TRUE(CheckFileCouldHandle(18)); // whatever its length
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\svc.exe"), 0);
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "System Memory    W32/Phantaxis.Backdoor removed",
                          "C:\\WINDOWS\\svc.exe     W32/Phantaxis.Trojan removed",
                      }));
    EXPECT_EQ(simwin::Sleeps(), std::vector<DWORD>{1000});
    EXPECT_EQ(simwin::Now(), 1000u);
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\svc.exe"));
    EXPECT_EQ(g_scan.filesInfected, 1);
    EXPECT_EQ(g_scan.filesRemoved, 1);
    EXPECT_STREQ(g_scan.currentFile, "");

    // The pending action becomes the action; report-only shows the status
    // line's text and the memory scan's match.
    lines_.clear();
    g_scan.pendingMemoryAction = ACTION_REPORT_ONLY;
    simwin::WriteFile("C:\\WINDOWS\\svc.exe", "x");
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\svc.exe"), 0);
    EXPECT_EQ(g_scan.action, ACTION_REPORT_ONLY);
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(
        lines_[1],
        "C:\\...\\svc.exe     W32/Phantaxis.A.Backdoor not disinfected as per user's selection");

    // Without a main window the check runs as usual.
    lines_.clear();
    g_scan.mainWindow = nullptr;
    g_scan.pendingMemoryAction = ACTION_DELETE;
    g_scan.action = ACTION_REPORT_ONLY;
    EXPECT_EQ(CheckFile(kTrojan, "C:\\WINDOWS\\svc.exe"), 0);
    EXPECT_TRUE(simwin::FileExists("C:\\WINDOWS\\svc.exe"));
    EXPECT_FALSE(CheckFileCouldHandle(1));
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}
