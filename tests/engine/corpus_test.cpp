/*
** No false positives on real programs: every PE file that Wine, mingw-w64,
** the NSIS stubs and plug-ins and win32-loader install on this machine (DLLs
** and executables written by others, 32- and 64-bit) is walked and checked,
** and none may be detected or changed.
*/
#include "corpus.h"
#include "engine/walk.h"
#include "world.h"

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

using Stamp = std::pair<uintmax_t, fs::file_time_type>; // size, last write

static bool IsPe(const fs::path& p) {
    char mz[2] = {0, 0};
    std::ifstream(p, std::ios::binary).read(mz, 2);
    return mz[0] == 'M' && mz[1] == 'Z';
}

class CorpusTest : public WorldTest {};

TEST_F(CorpusTest, RealProgramsAreNeverDetected) {
    int peFiles = 0, scanned = 0;
    for (const char* root : kCorpusRoots) {
        std::error_code ec;
        if (!fs::is_directory(root, ec)) continue;
        std::map<std::string, Stamp> before;
        for (auto& e : fs::recursive_directory_iterator(root, ec)) {
            if (!e.is_regular_file(ec) || e.is_symlink(ec)) continue;
            before[e.path()] = Stamp{e.file_size(ec), e.last_write_time(ec)};
            if (IsPe(e.path())) peFiles++;
        }
        Renew();
        simwin::MapDrive('C', root);
        AttachWindow();
        g_scan.action = ACTION_REPORT_ONLY; // even a false alarm must not touch the file
        WalkDirectory("C:\\*.*");
        scanned += g_scan.filesScanned;
        EXPECT_EQ(g_scan.filesInfected, 0) << root;
        EXPECT_TRUE(lines_.empty()) << root << ": " << (lines_.empty() ? "" : lines_[0]);
        for (auto& [path, stamp] : before) {
            std::error_code e2;
            Stamp now{fs::file_size(path, e2), fs::last_write_time(path, e2)};
            EXPECT_TRUE(now == stamp) << path << " changed";
        }
    }
    printf("checked %d files, %d of them PE files\n", scanned, peFiles);
    EXPECT_GT(peFiles, 500);
}
