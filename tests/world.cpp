/*
** The shared test fixture.
*/
#include "world.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

std::vector<std::string> WorldTest::lines_;
std::vector<std::string> WorldTest::statuses_;

void WorldTest::SetUp() {
    simwin::Reset();
    memset(&g_scan, 0, sizeof g_scan);
    lines_.clear();
    statuses_.clear();
    char tmpl[] = "/tmp/cptest-XXXXXX";
    root_ = mkdtemp(tmpl);
    MapDrive('C');
}

void WorldTest::Renew() {
    simwin::Reset();
    memset(&g_scan, 0, sizeof g_scan);
    lines_.clear();
    statuses_.clear();
    std::filesystem::remove_all(root_ + "/c");
    MapDrive('C');
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
