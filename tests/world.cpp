/*
** The shared test fixture.
*/
#include "world.h"
#include "engine/file_check.h"
#include "engine/file_identity.h"
#include "engine/legacy_check.h"
#include "memory/process_scan.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

/* Two deliberate constants the recording window and the process tests take
   as they stand: the window's private message numbers and the room of a
   listed image path. */
static_assert(WM_SCAN_LOGLINE == 0x0B && WM_SCAN_STATUS == 0x0A, "private message numbers");
static_assert(sizeof(ProcessImage::imagePath) == 340, "room of a listed image path");

std::vector<std::string> WorldTest::lines_;
std::vector<std::string> WorldTest::statuses_;

WindowsVersion::WindowsVersion(void (*s)()) : name("Other"), set(s) {
    for (const WindowsVersion& v : {kWin98, kNt4, kWin2000, kXp, kWin10})
        if (v.set == s) name = v.name;
}

void WorldTest::SetUp() {
    char tmpl[] = "/tmp/cptest-XXXXXX";
    root_ = mkdtemp(tmpl);
    Renew();
}

void WorldTest::Renew(void (*version)()) {
    ReleaseMatchedImage(); // the check's own state, outside g_scan
    ForgetWaitingFiles();
    ForgetLeftChanges(); // simwin's handle values start again
    simwin::Reset();
    memset(&g_scan, 0, sizeof g_scan);
    lines_.clear();
    statuses_.clear();
    std::filesystem::remove_all(root_ + "/c");
    MapDrive('C');
    if (version) version();
    Furnish();
}

void WorldTest::Reboot(void (*version)()) {
    simwin::Reset();
    simwin::MapDrive('C', root_ + "/c", DRIVE_FIXED);
    if (version) version();
}

void WorldTest::TearDown() {
    simwin::Reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::string WorldTest::MapDrive(char letter, UINT type) {
    std::string host = root_ + "/" + std::string(1, (char)tolower(letter));
    simwin::MapDrive(letter, host, type);
    return host;
}

void WorldTest::AttachWindow() {
    g_scan.mainWindow = simwin::CreateTestWindow([](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_SCAN_LOGLINE) lines_.push_back(g_scan.lineBuffer);
        if (msg == WM_SCAN_STATUS) statuses_.push_back(g_scan.statusText);
        return 0;
    });
}

void WorldTest::PrepareRemoval(const char* target) {
    AttachWindow();
    strcpy(g_scan.target, target);
    g_scan.action = ACTION_DELETE;
}

void ScanWorldTest::Furnish() {
    PrepareRemoval();
    infected_ = Specimen(2);
    ASSERT_FALSE(infected_.empty()) << "specimens not built";
}

const char* const kLateRemoved = "C:\\zzz\\late.exe     W32/Phantaxis.b.FraudTool removed";

std::vector<FaultPoint> FaultPoints(std::initializer_list<const char*> ops) {
    std::vector<FaultPoint> points;
    for (const char* op : ops)
        for (int call = 0; call < simwin::CallCount(op); call++)
            points.push_back({op, call});
    return points;
}

std::string LongestValueName(char fill) { return std::string(16383, fill); }

void SetStrings(const std::string& key,
                const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, data] : values)
        simwin::RegSetString(HKEY_LOCAL_MACHINE, key, name, data);
}

Strings ValueNames(const std::string& key) {
    return simwin::RegValueNames(HKEY_LOCAL_MACHINE, key);
}

std::string LegacyPattern() {
    uint8_t pattern[100];
    const size_t n = CopyLegacyPattern(pattern, sizeof pattern);
    EXPECT_EQ(n, 100u);
    return std::string((const char*)pattern, n);
}

std::vector<uint8_t> Unterminated(size_t size) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; i++)
        data[i] = (uint8_t)(i % 251 + 1);
    return data;
}

std::vector<std::string> PendingDeletionsMasked() {
    const std::string mark = "CleanPhantaxis-restart-";
    std::vector<std::string> masked;
    for (std::string path : simwin::PendingDeletions()) {
        const size_t at = path.find(mark);
        if (at != std::string::npos &&
            path.substr(at + mark.size(), 32).find_first_not_of("0123456789abcdef") ==
                std::string::npos &&
            path.size() >= at + mark.size() + 32)
            path.replace(at + mark.size(), 32, "*");
        masked.push_back(path);
    }
    return masked;
}

std::string PathOfLength(const std::string& dir, size_t length, char fill, const std::string& ext) {
    return dir + "\\" + std::string(length - dir.size() - 1 - ext.size(), fill) + ext;
}

std::string FolderChain(const std::string& root, char first, char last, size_t length) {
    std::string path = root;
    for (char c = first; c < last; c++)
        path += "\\" + std::string(length, c);
    return path;
}

std::string Alias(char letter, const std::string& ext) {
    std::string alias = std::string(6, letter) + "~1" + ext;
    for (char& c : alias)
        c = (char)toupper((unsigned char)c);
    return alias;
}

bool IdentityByReading(const std::string& path, FileId* id) {
    const HANDLE file = OpenFileForReading(path.c_str());
    const bool known = file != INVALID_HANDLE_VALUE && IdentityOf(file, id);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return known;
}

std::vector<uint8_t> Specimen(int row) {
    char name[32];
    snprintf(name, sizeof name, "/rec-%03d.exe", row);
    const char* dir = getenv("SPECIMEN_DIR");
    std::ifstream in(std::string(dir ? dir : SPECIMEN_DIR) + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int FileOpens() { return simwin::CallCount("_open") + simwin::CallCount("CreateFileA"); }

void SwapFolderForLinkAt(const std::string& op, const std::string& dir, const std::string& target) {
    simwin::OnCall(op, [op, dir, target] {
        if (simwin::CallCount(op) != 1) return;
        ASSERT_TRUE(MoveFileA(dir.c_str(), (dir + "-aside").c_str()));
        simwin::MakeDirLink(dir, target);
    });
}

void PlantVariant(const std::string& path) {
    std::vector<uint8_t> bytes = Specimen(45); // W32/Phantaxis.Backdoor
    ASSERT_FALSE(bytes.empty()) << "specimens not built";
    simwin::WriteFile(path, bytes);
}

DWORD RunVariant(const std::string& path, simwin::Termination t) {
    PlantVariant(path);
    return simwin::StartProcess({path, {}, t, "", kVariantGrants});
}
