/*
** The legacy attachment check: the "begin" test, white space stripping, head
** and tail searches, the disposal wording, and that the plain signature is
** nowhere in the built program.
*/
#include "engine/legacy_check.h"
#include "world.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::string PlainPattern() {
    uint8_t bytes[100];
    size_t n = CopyLegacyPattern(bytes, sizeof bytes);
    return std::string(bytes, bytes + n);
}

/* The pattern with every kind of white space the check strips mixed in. */
std::string Spread(const std::string& pattern) {
    const char blanks[] = {'\t', '\n', '\v', '\f', '\r', ' '};
    std::string out;
    for (size_t i = 0; i < pattern.size(); i++) {
        out += pattern[i];
        if (i % 9 == 8) out += blanks[(i / 9) % 6];
    }
    return out;
}

/* `size` bytes of hosts-like filler without the pattern's characters in a row. */
std::string Filler(size_t size) {
    std::string line = "127.0.0.1 host.example\r\n", out;
    while (out.size() < size)
        out += line;
    out.resize(size);
    return out;
}

/* A record like the built-in one, with the pattern in plain form. */
LegacySignature PlainRecord() {
    LegacySignature r;
    memset(&r, 0, sizeof r);
    strcpy(r.name, "Test.Legacy");
    r.position = 0;
    r.patternLength = 100;
    std::string p = PlainPattern();
    memcpy(r.pattern, p.data(), p.size());
    r.searchMode = 1;
    r.sizeMode = 18;
    return r;
}

} // namespace

class LegacyCheckTest : public WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        AttachWindow();
        g_scan.action = ACTION_DELETE;
        pattern_ = PlainPattern();
        ASSERT_EQ(pattern_.size(), 100u);
    }
    void TearDown() override {
        UseLegacyTable(nullptr, 0);
        WorldTest::TearDown();
    }
    std::string pattern_;
};

TEST_F(LegacyCheckTest, FilesWithoutTheLeadingWordOrTooShortAreLeftAlone) {
    const std::string ordinary = "127.0.0.1       localhost\r\n" + pattern_;
    simwin::WriteFile("C:\\hosts", ordinary);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(CheckLegacyFile("W32/Phantaxis.Backdoor", "C:\\hosts"), 0);
    EXPECT_EQ(simwin::ReadFile("C:\\hosts"), ordinary);

    // "begin" alone is shorter than the pattern; "plain" has the word but no signature.
    for (const auto& [name, text] :
         std::vector<std::pair<std::string, std::string>>{{"short", "begi"},
                                                          {"five", "begin"},
                                                          {"empty", ""},
                                                          {"plain", "begin\r\n" + Filler(5000)}}) {
        simwin::WriteFile("C:\\" + name, text);
        EXPECT_EQ(CheckLegacyFile("x", ("C:\\" + name).c_str()), 0) << name;
    }
    EXPECT_EQ(CheckLegacyFile("x", "C:\\missing"), 0);

    simwin::WriteFile("C:\\locked", "begin" + pattern_);
    simwin::FailCall("_read", ERROR_WRITE_FAULT, -1);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\locked"), 0);

    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(g_scan.filesInfected, 0);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}

TEST_F(LegacyCheckTest, CapitalBeginAndAllWhiteSpaceKindsMatchAndDelete) {
    simwin::WriteFile("C:\\etc\\hosts", "BEGIN 644 x\r\n" + Spread(pattern_) + "\r\nend\r\n");
    EXPECT_EQ(CheckLegacyFile("W32/Phantaxis.Backdoor", "C:\\etc\\hosts"), 1);
    EXPECT_FALSE(simwin::FileExists("C:\\etc\\hosts"));
    EXPECT_EQ(lines_, (std::vector<std::string>{"C:\\etc\\hosts     W32/Dravok.Worm removed"}));
    EXPECT_EQ(g_scan.filesInfected, 1);
    EXPECT_EQ(g_scan.filesRemoved, 1);
    EXPECT_STREQ(g_scan.detectionName, "W32/Dravok.Worm");
    EXPECT_STREQ(g_scan.statusText, "C:\\etc\\hosts");
    EXPECT_TRUE(statuses_.empty()); // the status text is written, not sent

    // The pattern interrupted by anything but white space is no match; the
    // unscrambled pattern stays ready for every later check.
    std::string broken = pattern_;
    broken.insert(50, "#");
    simwin::WriteFile("C:\\broken", "begin" + broken);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\broken"), 0);
    simwin::WriteFile("C:\\again", "Begin" + pattern_);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\again"), 1);
    EXPECT_EQ(PlainPattern(), pattern_);
}

TEST_F(LegacyCheckTest, ASmallFileIsSearchedWholeAsHeadAndTail) {
    std::string text = "begin\r\n" + Filler(3000 - 7 - 100) + pattern_; // ends with the pattern
    ASSERT_EQ(text.size(), 3000u);
    simwin::WriteFile("C:\\h3000", text);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\h3000"), 1);

    // A tail record sees the whole small file too, the pattern at its start.
    LegacySignature tail = PlainRecord();
    tail.part = 1;
    UseLegacyTable(&tail, 1);
    simwin::WriteFile("C:\\front", "begin" + pattern_ + Filler(2800));
    EXPECT_EQ(CheckLegacyFile("x", "C:\\front"), 1);
    EXPECT_EQ(lines_.back(), "C:\\front     Test.Legacy removed");
    EXPECT_EQ(g_scan.filesInfected, 2);
}

TEST_F(LegacyCheckTest, ALargeFileIsSearchedInItsFirstOrLast4096Bytes) {
    // Head: found by the built-in record, even just before byte 4096.
    simwin::WriteFile("C:\\head", "begin" + Filler(3990 - 5) + pattern_ + Filler(6000));
    EXPECT_EQ(CheckLegacyFile("x", "C:\\head"), 1);
    // Across the 4096 boundary, in the middle, or only in the tail: the
    // built-in head record does not see it.
    simwin::WriteFile("C:\\cross", "begin" + Filler(4050 - 5) + pattern_ + Filler(6000));
    simwin::WriteFile("C:\\middle", "begin" + Filler(5000) + pattern_ + Filler(5000));
    simwin::WriteFile("C:\\tail", "begin" + Filler(9000) + pattern_ + Filler(300));
    EXPECT_EQ(CheckLegacyFile("x", "C:\\cross"), 0);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\middle"), 0);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\tail"), 0);

    LegacySignature tail = PlainRecord();
    tail.part = 1;
    UseLegacyTable(&tail, 1);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\middle"), 0);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\tail"), 1);
    EXPECT_FALSE(simwin::FileExists("C:\\tail"));
    EXPECT_EQ(g_scan.filesInfected, 2);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);

    // The tail as the file stands when it is read, not at the length asked
    // before: another writer appends the pattern in between.
    simwin::WriteFile("C:\\grows", "begin" + Filler(9000));
    auto asked = std::make_shared<int>(0); // 1: length asked, 2: grown
    const std::string more = "begin" + Filler(9000) + pattern_ + Filler(300);
    simwin::OnCall("_filelength", [asked] { *asked = 1; });
    simwin::OnCall("_read", [asked, more] {
        if (*asked == 1) simwin::WriteFile("C:\\grows", more);
        if (*asked == 1) *asked = 2;
    });
    EXPECT_EQ(CheckLegacyFile("x", "C:\\grows"), 1);
}

TEST_F(LegacyCheckTest, FixedPositionAndSizeModes) {
    g_scan.action = 0; // match and count only: the files stay for the next case
    LegacySignature r = PlainRecord();
    r.searchMode = 0;
    UseLegacyTable(&r, 1);
    // Stripped head: "begin" + 15 filler bytes, then the pattern at 20. Tail:
    // `position` bytes before the end of the stripped tail.
    simwin::WriteFile("C:\\at20", "begin 123456789\n012345" + pattern_ + Filler(200));
    simwin::WriteFile("C:\\at21", "begin1234567890123456" + pattern_ + Filler(200));
    simwin::WriteFile("C:\\end110", "begin" + Filler(5000) + pattern_ + "0123456789");
    const struct {
        int32_t part, position;
        const char* path;
        int32_t found;
    } placed[] = {
        {0, 20, "C:\\at20", 1},      {0, 20, "C:\\at21", 0}, {1, 110, "C:\\end110", 1},
        {1, 50, "C:\\end110", 0},    // the 100-byte window would run past the data
        {1, 30000, "C:\\end110", 0}, // longer than the tail: no window
        {1, -5, "C:\\end110", 0},
    };
    for (const auto& c : placed) {
        r.part = c.part;
        r.position = c.position;
        EXPECT_EQ(CheckLegacyFile("x", c.path), c.found) << c.path << " " << c.position;
    }

    // Size modes compare the record's size with the file's length.
    LegacySignature sized = PlainRecord();
    UseLegacyTable(&sized, 1);
    std::string text = "begin" + pattern_ + Filler(995); // 1100 bytes
    simwin::WriteFile("C:\\s1", text);
    for (auto [mode, size, found] :
         {std::tuple{16, 1101, 0}, {16, 1100, 1}, {17, 1100 + 4097, 0}, {17, 1100 + 4096, 1}}) {
        sized.sizeMode = mode;
        sized.size = size;
        EXPECT_EQ(CheckLegacyFile("x", "C:\\s1"), found) << mode << " " << size;
    }

    // A disabled record, and one claiming more pattern than it holds, never match.
    LegacySignature odd[2] = {PlainRecord(), PlainRecord()};
    odd[0].patternLength = 0;
    odd[1].patternLength = 101;
    UseLegacyTable(odd, 2);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\s1"), 0);
}

TEST_F(LegacyCheckTest, DisposalByActionWithItsOwnWording) {
    const std::string text = "begin\n" + pattern_;
    simwin::WriteFile("C:\\d\\hosts", text);
    // Held by a program that shares no delete: the delete fails, once.
    HANDLE reader =
        CreateFileA("C:\\d\\hosts", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\hosts"), 1);
    CloseHandle(reader);
    EXPECT_TRUE(simwin::FileExists("C:\\d\\hosts"));
    // A user's hard link to it keeps the content under that name: not removed.
    simwin::WriteFile("C:\\d\\linked", text);
    std::filesystem::create_hard_link(simwin::HostPath("C:\\d\\linked"),
                                      simwin::HostPath("C:\\d\\mine"));
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\linked"), 1);
    EXPECT_EQ(g_scan.filesInfected, 2);
    EXPECT_EQ(g_scan.filesRemoved, 0);

    g_scan.action = ACTION_RENAME;
    simwin::WriteFile("C:\\d\\hosts.txt", text);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\hosts.txt"), 1);
    EXPECT_TRUE(simwin::FileExists("C:\\d\\hosts.Vxt"));
    simwin::WriteFile("C:\\d\\hosts.txt", text); // the new name is taken now
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\hosts.txt"), 1);

    g_scan.action = ACTION_REPORT_ONLY;
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\hosts.txt"), 1);
    g_scan.action = ACTION_DELETE_TOO;
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\hosts.txt"), 1);
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "C:\\d\\hosts     W32/Dravok.Worm Remove failed",
                          "C:\\d\\linked     W32/Dravok.Worm Unable to remove",
                          "C:\\d\\hosts.txt     W32/Dravok.Worm renamed",
                          "C:\\d\\hosts.txt     W32/Dravok.Worm Rename failed",
                          "C:\\d\\hosts.txt     W32/Dravok.Worm Not Disinfected As Per User's "
                          "Selection",
                          "C:\\d\\hosts.txt     W32/Dravok.Worm removed",
                      }));
    EXPECT_EQ(g_scan.filesInfected, 6);
    EXPECT_EQ(g_scan.filesRemoved, 1);

    // Any other action: matched and counted, the file untouched, no line.
    lines_.clear();
    g_scan.action = 0;
    simwin::WriteFile("C:\\d\\keep", text);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\keep"), 1);
    EXPECT_TRUE(simwin::FileExists("C:\\d\\keep"));
    // Without a window the file is still deleted, silently.
    g_scan.action = ACTION_DELETE;
    g_scan.mainWindow = nullptr;
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\keep"), 1);
    EXPECT_FALSE(simwin::FileExists("C:\\d\\keep"));
    EXPECT_TRUE(lines_.empty());
    // Another program holds it, sharing the delete: only marked, not removed.
    simwin::WriteFile("C:\\d\\held", text);
    simwin::WriteFile("C:\\d\\keep.txt", text);
    HANDLE holder = CreateFileA("C:\\d\\held", GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, 0);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\held"), 1);
    EXPECT_EQ(g_scan.filesRemoved, 2);
    CloseHandle(holder);
    // On NT a file held by no handle of the check's (refused for deleting,
    // its identity unread) is neither deleted nor renamed by its path.
    for (int32_t action : {ACTION_DELETE, ACTION_RENAME}) {
        g_scan.action = action;
        simwin::FailCall("CreateFileA", ERROR_SHARING_VIOLATION);
        simwin::FailCall("GetFileInformationByHandle", ERROR_INVALID_FUNCTION, -1);
        EXPECT_EQ(CheckLegacyFile("x", "C:\\d\\keep.txt"), 1) << action;
        EXPECT_TRUE(simwin::FileExists("C:\\d\\keep.txt")) << action;
    }
}

TEST_F(LegacyCheckTest, TheToolWritesAHostsFileThatMatches) {
    namespace fs = std::filesystem;
    fs::path tool = fs::read_symlink("/proc/self/exe").parent_path() / "make_legacy_hosts";
    if (!fs::exists(tool)) GTEST_SKIP() << "make_legacy_hosts not built";
    std::string out = root_ + "/c/hosts";
    ASSERT_EQ(std::system((tool.string() + " " + out).c_str()), 0);
    EXPECT_EQ(CheckLegacyFile("x", "C:\\hosts"), 1);
    EXPECT_FALSE(simwin::FileExists("C:\\hosts"));
}

/* The plain signature must not be in anything we build; the record's name,
   stored next to it, shows that the search looks at the right bytes. */
TEST(LegacySignatureStorage, ThePlainPatternIsInNoBuiltProgram) {
    std::string pattern = PlainPattern();
    ASSERT_EQ(pattern.size(), 100u);
    namespace fs = std::filesystem;
    fs::path self = fs::read_symlink("/proc/self/exe");
    std::vector<fs::path> files{self, self.parent_path() / "libcpengine.a",
                                self.parent_path() / "make_legacy_hosts"};
    // The Windows builds, when present.
    std::string source = __FILE__;
    source.erase(source.size() - strlen("tests/engine/legacy_check_test.cpp"));
    for (const char* build : {"build/win32", "build/win64"}) {
        std::error_code ec;
        fs::path dir = fs::path(source) / build;
        if (!fs::is_directory(dir, ec)) continue;
        for (auto it = fs::recursive_directory_iterator(dir, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.rfind("CleanPhantaxis", 0) == 0 || name == "libcpengine.a") {
                if (it->is_regular_file(ec)) files.push_back(it->path());
            }
        }
    }
    int searched = 0;
    for (auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        // A Windows build may be older than this one; only the host files are
        // sure to hold the record.
        if (file.parent_path() == self.parent_path()) {
            EXPECT_NE(bytes.find("W32/Dravok.Worm"), std::string::npos) << file;
        }
        EXPECT_EQ(bytes.find(pattern), std::string::npos) << file;
        EXPECT_EQ(bytes.find(pattern.substr(0, 24)), std::string::npos) << file;
        EXPECT_EQ(bytes.find(pattern.substr(76)), std::string::npos) << file;
        searched++;
    }
    EXPECT_GE(searched, 2);
}
