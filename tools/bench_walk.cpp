/*
** bench_walk: what the checks cost on top of walking the tree.
**
**   bench_walk <work-folder> [files]
**
** Makes (once; it is kept for later runs) a tree of `files` files, 100,000 by
** default, in <work-folder>/tree: PE files of the signature table's sizes
** with their windows spoiled, other PE files and text files, in folders
** nested two and three deep; and, on every run, the specimen of every table
** record in tree/specimens. Then, in this process,
**   1. a bare FindFirstFileA/FindNextFileA walk of the tree, one listing per
**      folder (the baseline), and the same listing each folder twice, as the
**      program's walk does (its file phase and its subfolder phase);
**   2. the program's walk with every check (WalkDirectory, report only), and
**      the same walk handing every file to the check, as it did before it
**      looked at the listed lengths;
** each timed three times, best of three, with the files opened and bytes
** read per file. Then, untimed, every file is checked once more on its own
** to count the bytes read per file and to find any file read whole. Peak
** memory is taken in fresh child processes (this program run again with
** --walk) that walk a tenth of the tree and the whole tree, so that neither
** inherits the other's memory.
** Last, when clamscan is installed and <work-folder>/phantaxis.ldb holds the
** table exported by export_clamav, clamscan scans the same tree once with
** those signatures: its time against the program's walk, and whether it
** finds exactly the files the program finds.
** The table goes to stdout and to <work-folder>/bench.txt.
*/
#include "engine/file_check.h"
#include "engine/scan_state.h"
#include "engine/signatures.h"
#include "engine/walk.h"
#include "platform/win32.h"
#include "tools/pe_specimen.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/* A PE-looking file of `size` bytes: a valid header, then a hole. */
void WritePe(const std::string& path, long size, uint32_t seed) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    std::vector<uint8_t> head(1024, 0);
    head[0] = 'M', head[1] = 'Z';
    const uint32_t nt = 0x80, fh = nt + pe::kNtFileHeader, oh = nt + pe::kNtOptionalHeader;
    pebytes::Put32(head, pe::kDosNewHeader, nt);
    memcpy(&head[nt], "PE\0\0", 4);
    pebytes::Put16(head, fh + pe::kMachine, 0x14C); // i386
    pebytes::Put16(head, fh + pe::kNumberOfSections, 1);
    pebytes::Put16(head, oh + pe::kMagic, 0x10B); // PE32
    pebytes::Put32(head, oh + pe::kAddressOfEntryPoint, 0x1000 + (seed % 0x800));
    pebytes::Put32(head, oh + pe::kSizeOfHeaders, 0x400);
    const uint32_t sec = nt + pe::kNtHeaders32Size; // .text: VA 0x1000, raw 0x400
    memcpy(&head[sec], ".text", 5);
    pebytes::Put32(head, sec + pe::kVirtualSize, (uint32_t)size);
    pebytes::Put32(head, sec + pe::kVirtualAddress, 0x1000);
    pebytes::Put32(head, sec + pe::kPointerToRawData, 0x400);
    if (write(fd, head.data(), head.size()) != (ssize_t)head.size()) perror("write");
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

/* Processor time, user and system, of this process (RUSAGE_SELF) or of its
   children waited for (RUSAGE_CHILDREN): on a loaded machine it varies far
   less than the elapsed time. */
double CpuSeconds(int who) {
    struct rusage u;
    getrusage(who, &u);
    return (double)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           (double)(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

/* The Windows paths the scan reported, from its report-only lines. */
std::set<std::string> g_found;

LRESULT QuietWindow(HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_SCAN_LOGLINE) {
        const char* cut = strstr(g_scan.lineBuffer, "     ");
        if (cut) g_found.insert(std::string((const char*)g_scan.lineBuffer, cut));
    }
    return 0;
}

/* The walk as it was before it asked for the listed length: every file is
   handed to the check. */
const FileCheck kCheckEveryFile[] = {
    {"W32/Phantaxis.Trojan", CheckFile, nullptr},
    {nullptr, nullptr, nullptr},
};

void Scan(const std::string& tree, const char* pattern, const FileCheck* checks = FileCheckList) {
    simwin::Reset();
    simwin::MapDrive('C', tree);
    memset(&g_scan, 0, sizeof g_scan);
    g_found.clear();
    g_scan.action = ACTION_REPORT_ONLY;
    g_scan.mainWindow = simwin::CreateTestWindow(QuietWindow);
    g_fileChecks = checks;
    WalkDirectory(pattern);
    g_fileChecks = FileCheckList;
}

/* Every record's specimen in <tree>/specimens, as make_specimens writes it. */
int PlantSpecimens(const std::string& tree) {
    const std::string dir = tree + "/specimens";
    fs::create_directories(dir);
    int row = 0, planted = 0;
    for (const VariantSignature* rec = kVariantTable; rec->name[0]; rec++) {
        row++;
        specimen::Layout layout;
        std::string why;
        if (!specimen::Plan(*rec, &layout, &why)) continue;
        std::vector<uint8_t> bytes = specimen::Build(*rec, layout);
        char name[32];
        snprintf(name, sizeof name, "/rec-%03d.exe", row);
        FILE* f = fopen((dir + name).c_str(), "wb");
        if (!f) continue;
        if (fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size()) planted++;
        fclose(f);
    }
    return planted;
}

/* clamscan over the tree with the exported table: seconds, and the files it
   found (as Windows paths on C:); a negative time when it did not run. */
double RunClamscan(const std::string& tree, const std::string& ldb, std::set<std::string>* found,
                   double* cpu, std::string* why) {
    if (system("command -v clamscan > /dev/null 2>&1") != 0) return *why = "not installed", -1;
    if (!fs::exists(ldb)) return *why = ldb + " missing (run export_clamav)", -1;
    const std::string command =
        "clamscan --no-summary -i -r -d '" + ldb + "' '" + tree + "' 2> /dev/null";
    auto t0 = std::chrono::steady_clock::now();
    const double c0 = CpuSeconds(RUSAGE_CHILDREN);
    FILE* p = popen(command.c_str(), "r");
    if (!p) return *why = "cannot start", -1;
    char line[4096];
    const std::string prefix = tree + "/";
    while (fgets(line, sizeof line, p)) {
        std::string l = line;
        size_t colon = l.rfind(": ");
        if (colon == std::string::npos || l.find(" FOUND") == std::string::npos) continue;
        std::string path = l.substr(0, colon);
        if (path.compare(0, prefix.size(), prefix) == 0) path = path.substr(prefix.size());
        for (char& c : path)
            if (c == '/') c = '\\';
        found->insert("C:\\" + path);
    }
    const int status = pclose(p);
    const double seconds = Seconds(t0);
    *cpu = CpuSeconds(RUSAGE_CHILDREN) - c0;
    // clamscan exits with 1 when it found something, 0 when not.
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return *why = "failed", -1;
    return seconds;
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

    const int specimens = PlantSpecimens(tree);

    // Warm the host's caches once, then time each walk three times.
    simwin::Reset();
    simwin::MapDrive('C', tree);
    long bareFiles = BareWalk("C:", 1);
    double bare = 1e9, bareTwice = 1e9, checked = 1e9, everyFile = 1e9;
    double bareCpu = 1e9, bareTwiceCpu = 1e9, checkedCpu = 1e9, everyFileCpu = 1e9;
    uint64_t bytesInWalk = 0, bytesEveryFile = 0;
    int opensInWalk = 0, opensEveryFile = 0, scanned = 0, scannedEveryFile = 0;
    std::set<std::string> programFound, programFoundEveryFile;
    for (int round = 0; round < 3; round++) {
        simwin::Reset();
        simwin::MapDrive('C', tree);
        auto t0 = std::chrono::steady_clock::now();
        double c0 = CpuSeconds(RUSAGE_SELF);
        BareWalk("C:", 1);
        bare = std::min(bare, Seconds(t0));
        bareCpu = std::min(bareCpu, CpuSeconds(RUSAGE_SELF) - c0);
        t0 = std::chrono::steady_clock::now();
        c0 = CpuSeconds(RUSAGE_SELF);
        BareWalk("C:", 2);
        bareTwice = std::min(bareTwice, Seconds(t0));
        bareTwiceCpu = std::min(bareTwiceCpu, CpuSeconds(RUSAGE_SELF) - c0);
        t0 = std::chrono::steady_clock::now();
        c0 = CpuSeconds(RUSAGE_SELF);
        Scan(tree, "C:\\*.*");
        checked = std::min(checked, Seconds(t0));
        checkedCpu = std::min(checkedCpu, CpuSeconds(RUSAGE_SELF) - c0);
        bytesInWalk = simwin::BytesRead();
        opensInWalk = simwin::CallCount("_open");
        scanned = g_scan.filesScanned;
        programFound = g_found;
        t0 = std::chrono::steady_clock::now();
        c0 = CpuSeconds(RUSAGE_SELF);
        Scan(tree, "C:\\*.*", kCheckEveryFile);
        everyFile = std::min(everyFile, Seconds(t0));
        everyFileCpu = std::min(everyFileCpu, CpuSeconds(RUSAGE_SELF) - c0);
        bytesEveryFile = simwin::BytesRead();
        opensEveryFile = simwin::CallCount("_open");
        scannedEveryFile = g_scan.filesScanned;
        programFoundEveryFile = g_found;
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

    // The peer: clamscan with the same table, on the same tree.
    std::set<std::string> clamFound;
    std::string clamWhy;
    double clamCpu = 0;
    const double clam = RunClamscan(tree, work + "/phantaxis.ldb", &clamFound, &clamCpu, &clamWhy);

    std::string report;
    auto row = [&report](const std::string& what, const char* format, auto... value) {
        char text[512];
        int n = snprintf(text, sizeof text, "%-56s ", what.c_str());
        snprintf(text + n, sizeof text - (size_t)n, format, value...);
        report += text;
        report += "\n";
    };
    auto per = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    row("measure (host build, one run; the machine may be loaded)", "%12s", "value");
    row("files in the tree (bare walk)", "%12ld", bareFiles);
    row("  of them specimens of table records", "%12d", specimens);
    row("files scanned by the walk with every check", "%12d", scanned);
    row("bare walk, one listing a folder (best of 3)", "%10.3f s", bare);
    row("bare walk, two listings a folder", "%10.3f s", bareTwice);
    row("walk with every check, report only", "%10.3f s", checked);
    row("  the same, every file handed to the check", "%10.3f s", everyFile);
    row("  processor time: bare walk, one listing", "%10.3f s", bareCpu);
    row("  processor time: bare walk, two listings", "%10.3f s", bareTwiceCpu);
    row("  processor time: walk with every check", "%10.3f s", checkedCpu);
    row("  processor time: every file handed to the check", "%10.3f s", everyFileCpu);
    row("ratio walk / bare walk", "%12.2f", per(checked, bare));
    row("ratio walk / two-listing bare walk (target <= 1.5)", "%12.2f", per(checked, bareTwice));
    row("ratio every file checked / two-listing bare walk", "%12.2f", per(everyFile, bareTwice));
    row("ratio walk / every file checked", "%12.2f", per(checked, everyFile));
    row("  by processor time: walk / two-listing bare walk", "%12.2f",
        per(checkedCpu, bareTwiceCpu));
    row("  by processor time: every file checked / two-listing", "%12.2f",
        per(everyFileCpu, bareTwiceCpu));
    row("  by processor time: walk / every file checked", "%12.2f", per(checkedCpu, everyFileCpu));
    row("files opened per file, in the walk", "%12.4f", per(opensInWalk, scanned));
    row("  every file handed to the check", "%12.4f", per(opensEveryFile, scannedEveryFile));
    row("bytes read per file, in the walk", "%12.1f", per((double)bytesInWalk, scanned));
    row("  every file handed to the check", "%12.1f",
        per((double)bytesEveryFile, scannedEveryFile));
    row("bytes read per file checked on its own", "%12.1f", per((double)bytes, each));
    row("most bytes read from one file", "%12llu", (unsigned long long)most);
    row("files read whole (of more than 64 bytes)", "%12ld", readWhole);
    row("files found by the walk (both ways)", "%8zu%s", programFound.size(),
        programFound == programFoundEveryFile ? "    " : " (!=)");
    row("peak memory, walk of a tenth (" + std::to_string(tenthFiles) + " files)", "%9ld KiB",
        tenthKb);
    row("peak memory, walk of the whole (" + std::to_string(wholeFiles) + " files)", "%9ld KiB",
        wholeKb);
    if (clam < 0) {
        row("clamscan, same table, same tree", "not run: %s", clamWhy.c_str());
    } else {
        row("clamscan, same table (127 logical signatures)", "%10.3f s", clam);
        row("  processor time of clamscan", "%10.3f s", clamCpu);
        row("ratio clamscan / walk (target >= 50)", "%12.1f", per(clam, checked));
        row("ratio clamscan / every file checked", "%12.1f", per(clam, everyFile));
        row("  by processor time: clamscan / walk", "%12.1f", per(clamCpu, checkedCpu));
        row("  by processor time: clamscan / every file checked", "%12.1f",
            per(clamCpu, everyFileCpu));
        row("files found by clamscan", "%12zu", clamFound.size());
        row("clamscan finds the files the program finds", "%12s",
            clamFound == programFound ? "yes" : "NO");
        for (const std::string& f : programFound)
            if (!clamFound.count(f)) row("  found by the program only", "%s", f.c_str());
        for (const std::string& f : clamFound)
            if (!programFound.count(f)) row("  found by clamscan only", "%s", f.c_str());
    }
    fputs(report.c_str(), stdout);
    FILE* out = fopen((work + "/bench.txt").c_str(), "w");
    if (out) fputs(report.c_str(), out), fclose(out);
    return 0;
}
