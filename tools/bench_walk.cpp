/*
** bench_walk: what the checks cost on top of walking the tree.
**
**   bench_walk <specimen-folder> <work-folder> [files]
**
** Makes a tree of `files` files (default 100,000: PE files of the signature
** table's sizes with their windows spoiled, other PE files, text files, in
** nested folders), then times in this one process
**   1. a bare FindFirstFileA/FindNextFileA walk of the tree (the baseline),
**   2. the program's walk with every check (WalkDirectory, report-only),
** and prints their ratio, the bytes read per file checked, and the peak
** memory after a walk of a tenth of the tree and of the whole tree.
** The figures also go to <work-folder>/bench.txt.
*/
#include "engine/scan_state.h"
#include "engine/signatures.h"
#include "engine/walk.h"
#include "platform/win32.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

static long PeakKb() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

/* A PE-looking file of `size` bytes: a valid header, then a hole. */
static void WritePe(const std::string& path, long size, uint32_t seed) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    uint8_t head[1024] = {'M', 'Z'};
    head[60] = 0x80;
    memcpy(head + 0x80, "PE\0\0", 4);
    head[0x84] = 0x4c, head[0x85] = 0x01; // i386
    head[0x86] = 1;                       // one section
    head[0x98] = 0x0b, head[0x99] = 0x01; // PE32
    uint32_t entry = 0x1000 + (seed % 0x800);
    memcpy(head + 0x98 + 16, &entry, 4);
    uint32_t headers = 0x400;
    memcpy(head + 0x98 + 60, &headers, 4);
    uint8_t* sec = head + 0x98 + 224; // .text: VA 0x1000, raw 0x400
    memcpy(sec, ".text", 5);
    uint32_t vsize = (uint32_t)size, va = 0x1000, raw = 0x400;
    memcpy(sec + 8, &vsize, 4);
    memcpy(sec + 12, &va, 4);
    memcpy(sec + 20, &raw, 4);
    if (write(fd, head, sizeof head) != (ssize_t)sizeof head) perror("write");
    if (ftruncate(fd, size) != 0) perror("ftruncate");
    close(fd);
}

static void MakeTree(const std::string& root, int files) {
    std::vector<long> sizes;
    for (const VariantSignature* s = kVariantTable; s->name[0]; s++)
        sizes.push_back(s->fileSize);
    if (sizes.empty()) sizes.push_back(44544);
    int perFolder = 50, made = 0;
    for (int d = 0; made < files; d++) {
        std::string dir = root + "/dir" + std::to_string(d / 40) + "/sub" + std::to_string(d % 40);
        fs::create_directories(dir);
        for (int i = 0; i < perFolder && made < files; i++, made++) {
            std::string f = dir + "/f" + std::to_string(i);
            switch (made % 10) {
            case 0: // the size of a table record: both windows are read
                WritePe(f + ".exe", sizes[(size_t)made % sizes.size()], (uint32_t)made);
                break;
            case 1:
                WritePe(f + ".dll", 30000 + made % 977, (uint32_t)made);
                break;
            default: {
                FILE* t = fopen((f + ".txt").c_str(), "w");
                if (t) fprintf(t, "plain text file %d\n", made), fclose(t);
            }
            }
        }
    }
}

static long bareFiles = 0;

static void BareWalk(const std::string& folder) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> subs;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            subs.push_back(folder + "\\" + fd.cFileName);
        else
            bareFiles++;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    for (auto& s : subs)
        BareWalk(s);
}

static double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

static LRESULT QuietWindow(HWND, UINT, WPARAM, LPARAM) { return 0; }

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <specimen-folder> <work-folder> [files]\n", argv[0]);
        return 2;
    }
    std::string work = argv[2];
    int files = argc > 3 ? atoi(argv[3]) : 100000;
    std::string tree = work + "/tree";
    std::string stampFile = tree + "/.files";
    FILE* stamp = fopen(stampFile.c_str(), "r");
    int existing = 0;
    if (stamp) {
        if (fscanf(stamp, "%d", &existing) != 1) existing = 0;
        fclose(stamp);
    }
    if (existing != files) {
        fs::remove_all(tree);
        printf("making a tree of %d files in %s\n", files, tree.c_str());
        MakeTree(tree, files);
        stamp = fopen(stampFile.c_str(), "w");
        if (stamp) fprintf(stamp, "%d\n", files), fclose(stamp);
    }

    simwin::Reset();
    simwin::MapDrive('C', tree);
    auto t0 = std::chrono::steady_clock::now();
    BareWalk("C:\\dir0");
    long tenthPeak = PeakKb();
    BareWalk("C:");
    double bare = Seconds(t0);

    memset(&g_scan, 0, sizeof g_scan);
    g_scan.action = ACTION_REPORT_ONLY;
    g_scan.mainWindow = simwin::CreateTestWindow(QuietWindow);
    uint64_t bytesBefore = simwin::BytesRead();
    t0 = std::chrono::steady_clock::now();
    WalkDirectory("C:\\dir0\\*.*");
    long walkTenthPeak = PeakKb();
    g_scan.filesScanned = 0;
    WalkDirectory("C:\\*.*");
    double checked = Seconds(t0);
    double perFile = g_scan.filesScanned
                         ? (double)(simwin::BytesRead() - bytesBefore) / g_scan.filesScanned
                         : 0.0;
    long wholePeak = PeakKb();

    char report[1024];
    snprintf(report, sizeof report,
             "files in tree                 %d\n"
             "bare FindFirstFileA walk      %.3f s\n"
             "walk with every check         %.3f s\n"
             "ratio (target <= 1.3)         %.2f\n"
             "bytes read per file checked   %.1f\n"
             "peak memory, a tenth / whole  %ld KiB / %ld KiB\n",
             files, bare, checked, checked / bare, perFile, walkTenthPeak, wholePeak);
    (void)tenthPeak;
    fputs(report, stdout);
    FILE* out = fopen((work + "/bench.txt").c_str(), "w");
    if (out) fputs(report, out), fclose(out);
    return 0;
}
