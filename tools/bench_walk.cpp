/*
** bench_walk: what the checks cost on top of walking the tree.
**
**   bench_walk <work-folder> [files]
**
** Makes (once; it is kept for later runs) a tree of `files` files, 100,000 by
** default, in <work-folder>/tree: PE files of the signature table's sizes
** with their windows spoiled, other PE files and text files, in folders
** nested two and three deep. Then, in this process,
**   1. a bare FindFirstFileA/FindNextFileA walk of the tree, one listing per
**      folder (the baseline), and the same listing each folder twice, as the
**      program's walk does (its file phase and its subfolder phase);
**   2. the program's walk with every check (WalkDirectory, report only);
** each timed three times, best of three. Then, untimed, every file is
** checked once more on its own to count the bytes read per file and to
** find any file read whole. Peak memory is taken in fresh child processes
** (this program run again with --walk) that walk a tenth of the tree and the
** whole tree, so that neither inherits the other's memory.
** The table goes to stdout and to <work-folder>/bench.txt.
*/
#include "engine/file_check.h"
#include "engine/scan_state.h"
#include "engine/signatures.h"
#include "engine/walk.h"
#include "platform/win32.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/* A PE-looking file of `size` bytes: a valid header, then a hole. */
void WritePe(const std::string& path, long size, uint32_t seed) {
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

/* 50 files a folder; folders dirA\subB (ten dirA, each with a tenth of the
   tree), and every fourth one a level deeper. */
void MakeTree(const std::string& root, int files) {
    std::vector<long> sizes;
    for (const VariantSignature* s = kVariantTable; s->name[0]; s++)
        sizes.push_back(s->fileSize);
    if (sizes.empty()) sizes.push_back(44544);
    int perFolder = 50, made = 0;
    for (int d = 0; made < files; d++) {
        std::string dir = root + "/dir" + std::to_string(d % 10) + "/sub" + std::to_string(d / 10);
        if (d % 4 == 3) dir += "/leaf";
        fs::create_directories(dir);
        for (int i = 0; i < perFolder && made < files; i++, made++) {
            std::string f = dir + "/f" + std::to_string(i);
            switch (made % 10) {
            case 0: // the size of a table record: both windows are read
                WritePe(f + ".exe", sizes[(size_t)(made / 10) % sizes.size()], (uint32_t)made);
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

/* A bare walk: every folder listed `listings` times, files counted once. */
long BareWalk(const std::string& folder, int listings) {
    long files = 0;
    std::vector<std::string> subs;
    for (int pass = 0; pass < listings; pass++) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((folder + "\\*.*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return files;
        do {
            if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
            if (pass + 1 < listings) continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                subs.push_back(folder + "\\" + fd.cFileName);
            else
                files++;
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    for (auto& s : subs)
        files += BareWalk(s, listings);
    return files;
}

/* Checks every file on its own: bytes read per file, and files read whole. */
void CheckEachFile(const std::string& folder, uint64_t* bytes, long* files, uint64_t* most,
                   long* readWhole) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> subs;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
        std::string path = folder + "\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            subs.push_back(path);
            continue;
        }
        uint64_t before = simwin::BytesRead();
        CheckFile("W32/Phantaxis.Trojan", path.c_str());
        uint64_t read = simwin::BytesRead() - before;
        *bytes += read;
        *most = std::max(*most, read);
        (*files)++;
        if (fd.nFileSizeLow > 64 && read >= fd.nFileSizeLow) (*readWhole)++;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    for (auto& s : subs)
        CheckEachFile(s, bytes, files, most, readWhole);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

LRESULT QuietWindow(HWND, UINT, WPARAM, LPARAM) { return 0; }

void Scan(const std::string& tree, const char* pattern) {
    simwin::Reset();
    simwin::MapDrive('C', tree);
    memset(&g_scan, 0, sizeof g_scan);
    g_scan.action = ACTION_REPORT_ONLY;
    g_scan.mainWindow = simwin::CreateTestWindow(QuietWindow);
    WalkDirectory(pattern);
}

/* The peak resident memory of this process so far, in KiB. */
long PeakKb() {
    FILE* f = fopen("/proc/self/status", "r");
    long kb = -1;
    char line[256];
    while (f && fgets(line, sizeof line, f))
        if (sscanf(line, "VmHWM: %ld", &kb) == 1) break;
    if (f) fclose(f);
    return kb;
}

/* Runs this program with --walk in a fresh process; returns its peak. */
long PeakOfChildWalk(const std::string& tree, const std::string& pattern, long* files) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        execl("/proc/self/exe", "bench_walk", "--walk", tree.c_str(), pattern.c_str(),
              (char*)nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    char out[128] = {0};
    ssize_t n = read(pipeFds[0], out, sizeof out - 1);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long kb = -1;
    if (n <= 0 || sscanf(out, "%ld %ld", &kb, files) != 2) return -1;
    return kb;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !strcmp(argv[1], "--walk")) {
        Scan(argv[2], argv[3]);
        printf("%ld %d\n", PeakKb(), g_scan.filesScanned);
        return 0;
    }
    if (argc < 2) {
        fprintf(stderr, "usage: %s <work-folder> [files]\n", argv[0]);
        return 2;
    }
    std::string work = argv[1];
    int files = argc > 2 ? atoi(argv[2]) : 100000;
    std::string tree = work + "/tree";
    std::string stampFile = work + "/tree.files";
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

    // Warm the host's caches once, then time each walk three times.
    simwin::Reset();
    simwin::MapDrive('C', tree);
    long bareFiles = BareWalk("C:", 1);
    double bare = 1e9, bareTwice = 1e9, checked = 1e9;
    uint64_t bytesInWalk = 0;
    int scanned = 0;
    for (int round = 0; round < 3; round++) {
        simwin::Reset();
        simwin::MapDrive('C', tree);
        auto t0 = std::chrono::steady_clock::now();
        BareWalk("C:", 1);
        bare = std::min(bare, Seconds(t0));
        t0 = std::chrono::steady_clock::now();
        BareWalk("C:", 2);
        bareTwice = std::min(bareTwice, Seconds(t0));
        t0 = std::chrono::steady_clock::now();
        Scan(tree, "C:\\*.*");
        checked = std::min(checked, Seconds(t0));
        bytesInWalk = simwin::BytesRead();
        scanned = g_scan.filesScanned;
    }

    // Bytes per file, file by file (untimed).
    Scan(tree, "C:\\nothing\\*.*");
    uint64_t bytes = 0, most = 0;
    long each = 0, readWhole = 0;
    CheckEachFile("C:", &bytes, &each, &most, &readWhole);

    // Memory: a tenth of the tree (dir0) and the whole tree, each in a
    // fresh process.
    long tenthFiles = 0, wholeFiles = 0;
    long tenthKb = PeakOfChildWalk(tree, "C:\\dir0\\*.*", &tenthFiles);
    long wholeKb = PeakOfChildWalk(tree, "C:\\*.*", &wholeFiles);

    char report[2048];
    snprintf(report, sizeof report,
             "%-44s %12s\n"
             "%-44s %12ld\n"
             "%-44s %12d\n"
             "%-44s %10.3f s\n"
             "%-44s %10.3f s\n"
             "%-44s %10.3f s\n"
             "%-44s %12.2f\n"
             "%-44s %12.2f\n"
             "%-44s %12.1f\n"
             "%-44s %12.1f\n"
             "%-44s %12llu\n"
             "%-44s %12ld\n"
             "%-44s %9ld KiB\n"
             "%-44s %9ld KiB\n",
             "measure", "value", "files in the tree (bare walk)", bareFiles,
             "files scanned by the walk with every check", scanned,
             "bare walk, one listing a folder (best of 3)", bare,
             "bare walk, two listings a folder", bareTwice, "walk with every check, report only",
             checked, "ratio to the bare walk (target <= 1.3)", checked / bare,
             "ratio to the two-listing bare walk", checked / bareTwice,
             "bytes read per file checked, in the walk",
             scanned ? (double)bytesInWalk / scanned : 0.0, "bytes read per file, file by file",
             each ? (double)bytes / each : 0.0, "most bytes read from one file",
             (unsigned long long)most, "files read whole (of more than 64 bytes)", readWhole,
             ("peak memory, walk of a tenth (" + std::to_string(tenthFiles) + " files)").c_str(),
             tenthKb,
             ("peak memory, walk of the whole (" + std::to_string(wholeFiles) + " files)").c_str(),
             wholeKb);
    fputs(report, stdout);
    FILE* out = fopen((work + "/bench.txt").c_str(), "w");
    if (out) fputs(report, out), fclose(out);
    return 0;
}
