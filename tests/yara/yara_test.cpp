/*
** The variant table exported as YARA rules, run by the real yara.
**
** ctest yara_rules: every specimen is found by its own record's rule and by
** no other, with its detection name and row, and no file of the
** false-positive corpus by any rule.
**
** ctest yara_agreement: file by file, over the specimens, the false-positive
** corpus, the fuzzers' seed files and a few hundred deliberately damaged
** specimens, the file check (report only) and yara name the same record, or
** both none. Where the check reads a file differently from a standard PE
** reader the two may part; each such file is listed with the reason, and a
** difference that no reason explains fails the test. The same comparison
** over rules exported from a small table of our own tries the size modes
** the built-in table does not use and a displacement that wraps around.
*/
#include "corpus.h"
#include "engine/file_check.h"
#include "engine/signatures.h"
#include "pe_headers.h"
#include "tools/pe_specimen.h"
#include "tools/yara_rules.h"
#include "world.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

std::string SpecimenDir() {
    const char* dir = getenv("SPECIMEN_DIR");
    return dir ? dir : SPECIMEN_DIR;
}

std::string BuiltRules() { return std::string(SIGNATURE_DIR) + "/phantaxis.yar"; }

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int Rows(const VariantSignature* table) {
    int rows = 0;
    while (table[rows].name[0])
        rows++;
    return rows;
}

/* Runs yara with `rules` over `files`: for each file that any rule matched,
   the rows of those rules. Anything else yara says goes to `trouble`. */
std::map<std::string, std::set<int>>
RunYara(const std::string& rules, const std::vector<std::string>& files, std::string* trouble) {
    const std::string list = fs::temp_directory_path() / ("cpyara-" + std::to_string(getpid()));
    {
        std::ofstream out(list);
        for (const std::string& f : files)
            out << f << "\n";
    }
    const std::string command = std::string(YARA_PROGRAM) +
                                " --fail-on-warnings -N -p 2 --scan-list '" + rules + "' '" + list +
                                "' 2>&1";
    std::map<std::string, std::set<int>> found;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        *trouble = "cannot run " + command;
        return found;
    }
    char line[4096];
    const std::string prefix = "phantaxis_rec_";
    while (fgets(line, sizeof line, p)) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        const size_t space = s.find(' ');
        if (s.compare(0, prefix.size(), prefix) == 0 && space != std::string::npos)
            found[s.substr(space + 1)].insert(atoi(s.c_str() + prefix.size()));
        else
            *trouble += s + "\n";
    }
    const int status = pclose(p);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        *trouble += command + ": exit status " + std::to_string(status) + "\n";
    fs::remove(list);
    return found;
}

/* Every regular file under `root`, symbolic links left out; with `mzOnly`,
   only those that start with "MZ" (the corpus: its other files are data that
   neither reader takes for a program). */
std::vector<std::string> FilesUnder(const std::string& root, bool mzOnly = false) {
    std::vector<std::string> files;
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return files;
    for (auto& e : fs::recursive_directory_iterator(root, ec)) {
        if (!e.is_regular_file(ec) || e.is_symlink(ec)) continue;
        char mz[2] = {0, 0};
        if (mzOnly && !(std::ifstream(e.path(), std::ios::binary).read(mz, 2) && mz[0] == 'M' &&
                        mz[1] == 'Z'))
            continue;
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

/* The file check over one table, whose records are renamed after their rows
   so that the detection name tells which record decided. */
class RowCheck {
  public:
    explicit RowCheck(const VariantSignature* table) {
        for (int row = 1; table[row - 1].name[0]; row++) {
            VariantSignature rec = table[row - 1];
            memset(rec.name, 0, sizeof rec.name);
            snprintf(rec.name, sizeof rec.name, "%d", row);
            table_.push_back(rec);
        }
        table_.push_back(VariantSignature{});
    }
    /* The row of the record that detects the file, 0 for none. */
    int Row(const std::string& winPath) {
        const VariantSignature* saved = g_variantTable;
        memset(&g_scan, 0, sizeof g_scan);
        g_scan.action = ACTION_REPORT_ONLY;
        g_variantTable = table_.data();
        const int row =
            CheckFile("W32/Phantaxis.Trojan", winPath.c_str()) ? atoi(g_scan.detectionName) : 0;
        g_variantTable = saved;
        return row;
    }

  private:
    std::vector<VariantSignature> table_;
};

/* Why the file check and a standard PE reader (yara's pe module) may judge
   this file differently for the records of `rows`: the places where the
   check's reading of PE files departs from the format. Empty when none
   applies. */
std::vector<std::string> Reasons(const std::vector<uint8_t>& bytes, const VariantSignature* table,
                                 std::set<int> rows) {
    std::vector<std::string> why;
    const Pe pe(bytes);
    char text[200];
    if (!pe.mz) why.push_back("no MZ at the start; the check does not look for it");
    if (pe.pointer > 0xFFFF) {
        snprintf(text, sizeof text, "PE header pointer 0x%X; the check uses only its low 16 bits",
                 pe.pointer);
        why.push_back(text);
    }
    if (pe.optionalSize != 224) {
        snprintf(
            text, sizeof text,
            "optional header of %u bytes; the check takes the section table to follow one of 224",
            pe.optionalSize);
        why.push_back(text);
    }
    if (pe.sections > 20) {
        snprintf(text, sizeof text, "%u sections; the check refuses more than 20", pe.sections);
        why.push_back(text);
    }
    rows.erase(0);
    for (int row : rows) {
        const VariantSignature& rec = table[row - 1];
        const int32_t offsets[2] = {rec.offset1, rec.offset2};
        for (int w = 0; w < 2; w++) {
            const uint32_t rva = pe.entry + (uint32_t)offsets[w];
            auto say = [&](const char* what) {
                snprintf(text, sizeof text, "record %d, window %d (RVA 0x%X): %s", row, w + 1, rva,
                         what);
                why.push_back(text);
            };
            if (pe.table.empty()) continue;
            // The check: the first section in table order whose end lies above the RVA.
            size_t i = 0;
            while (i < pe.table.size() &&
                   pe.table[i].virtualAddress + pe.table[i].virtualSize <= rva)
                i++;
            const bool beyond = i == pe.table.size();
            if (beyond) {
                say("beyond every section; the check maps it through the last one");
                i--;
            } else if (rva < pe.table[i].virtualAddress) {
                say("in no section; the check maps it through the next section above");
            }
            const Pe::Section& s = pe.table[i];
            for (size_t j = 0; j < pe.table.size(); j++)
                if (j != i && rva >= pe.table[j].virtualAddress &&
                    rva - pe.table[j].virtualAddress < pe.table[j].virtualSize) {
                    say("in more than one section; the check takes the first in table order");
                    break;
                }
            if (!beyond && rva - s.virtualAddress >= s.rawSize && rva >= s.virtualAddress)
                say("past its section's raw data; the check reads the file there all the same");
            const uint32_t align =
                std::min<uint32_t>(pe.fileAlignment ? pe.fileAlignment : 512, 512);
            if (s.rawPointer % align)
                say("its section's PointerToRawData is not a multiple of the file alignment; "
                    "yara rounds it down");
            const uint32_t position = rva + s.rawPointer - s.virtualAddress;
            if (position >= bytes.size())
                say("translates past the end of the file; the check then reads at the RVA itself");
            else if (position == 0)
                say("translates to position 0; the check reads at SizeOfHeaders instead");
        }
    }
    return why;
}

/* Each specimen gets every kStride-th row of the damaged headers, the rows
   taking turns. */
const size_t kStride = 8;

class YaraTest : public WorldTest {};

std::string Verdict(int row) { return row ? "record " + std::to_string(row) : "none"; }

} // namespace

TEST_F(YaraTest, EachSpecimenByItsOwnRuleAndTheCorpusByNone) {
    ASSERT_TRUE(fs::exists(BuiltRules())) << BuiltRules() << " not built";
    const int rows = Rows(kVariantTable);
    std::vector<std::string> files;
    std::map<std::string, int> own; // specimen -> its row
    for (const std::string& f : FilesUnder(SpecimenDir())) {
        const std::string name = fs::path(f).filename();
        int row = 0;
        if (sscanf(name.c_str(), "rec-%d.exe", &row) == 1 ||
            sscanf(name.c_str(), "run-%d.exe", &row) == 1 ||
            sscanf(name.c_str(), "run32-%d.exe", &row) == 1)
            own[f] = row;
    }
    // Every record's specimen, and the runnable ones: two 64-bit, two 32-bit.
    ASSERT_EQ((int)own.size(), rows + 4) << "specimens not built";
    size_t corpus = 0;
    for (const char* root : kCorpusRoots)
        for (const std::string& f : FilesUnder(root, true)) {
            files.push_back(f);
            corpus++;
        }
    for (auto& [f, row] : own)
        files.push_back(f);

    std::string trouble;
    const auto found = RunYara(BuiltRules(), files, &trouble);
    EXPECT_EQ(trouble, "");
    for (auto& [f, row] : own) {
        auto it = found.find(f);
        EXPECT_EQ(it == found.end() ? std::set<int>{} : it->second, std::set<int>{row}) << f;
    }
    for (auto& [f, matched] : found)
        EXPECT_TRUE(own.count(f)) << f << " matched by " << yara_rules::RuleName(*matched.begin());

    // Each match names the record: its detection name and row as yara prints them.
    const std::string command =
        std::string(YARA_PROGRAM) + " -m -N '" + BuiltRules() + "' '" + SpecimenDir() + "' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_TRUE(p);
    char line[4096];
    int named = 0;
    while (fgets(line, sizeof line, p)) {
        int row = 0;
        ASSERT_EQ(sscanf(line, "phantaxis_rec_%d", &row), 1) << line;
        ASSERT_TRUE(row >= 1 && row <= rows) << line;
        const std::string meta = std::string(" [name=\"") + kVariantTable[row - 1].name +
                                 "\",index =" + std::to_string(row) + "] ";
        EXPECT_NE(std::string(line).find(meta), std::string::npos) << line;
        named++;
    }
    pclose(p);
    EXPECT_EQ(named, rows + 4);
    printf("yara: %zu specimens each by its own rule, %zu corpus files by none\n", own.size(),
           corpus);
    // Most of the corpus is 32-bit Wine's DLLs: scripts/install-deps (make
    // deps) unpacks them into build/i386-root.
    EXPECT_GT(corpus, 1000u) << "is " I386_ROOT " unpacked? scripts/install-deps does it";
}

TEST_F(YaraTest, TheCheckAndYaraAgreeFileByFile) {
    ASSERT_TRUE(fs::exists(BuiltRules())) << BuiltRules() << " not built";
    struct File {
        std::string host, win, source;
    };
    std::vector<File> files;
    char letter = 'D';
    auto addFolder = [&](const std::string& root, const std::string& source) {
        std::vector<std::string> found = FilesUnder(root, source == "corpus");
        if (found.empty()) return;
        simwin::MapDrive(letter, root);
        for (const std::string& f : found) {
            std::string win = std::string(1, letter) + ":" + f.substr(root.size());
            std::replace(win.begin(), win.end(), '/', '\\');
            files.push_back({f, win, source});
        }
        letter++;
    };

    // The damaged specimens go to drive C:.
    const std::string damaged = root_ + "/c";
    int made = 0;
    for (int row = 1; row <= Rows(kVariantTable); row++) {
        const std::vector<uint8_t> good = Specimen(row);
        ASSERT_FALSE(good.empty()) << "specimens not built";
        const std::vector<HeaderDamage>& damages = HeaderDamages();
        for (size_t d = (size_t)row % kStride; d < damages.size(); d += kStride) {
            std::vector<uint8_t> bytes;
            if (!Damage(good, kVariantTable[row - 1], damages[d], &bytes)) continue;
            char name[64];
            snprintf(name, sizeof name, "%03d-%s.exe", row, damages[d].name.c_str());
            simwin::WriteFile(std::string("C:\\") + name, bytes);
            files.push_back({damaged + "/" + name, std::string("C:\\") + name, "damaged"});
            made++;
        }
    }
    EXPECT_GT(made, 400);
    addFolder(SpecimenDir(), "specimens");
    addFolder(std::string(SOURCE_DIR) + "/tests/fuzz/seeds", "seeds");
    for (const char* root : kCorpusRoots)
        addFolder(root, "corpus");

    std::vector<std::string> hostPaths;
    for (const File& f : files)
        hostPaths.push_back(f.host);
    std::string trouble;
    const auto found = RunYara(BuiltRules(), hostPaths, &trouble);
    EXPECT_EQ(trouble, "");

    RowCheck check(kVariantTable);
    std::map<std::string, std::map<std::string, int>> tally; // source -> outcome -> files
    int unexplained = 0;
    for (const File& f : files) {
        const int byCheck = check.Row(f.win);
        auto it = found.find(f.host);
        const int byYara = it == found.end() ? 0 : *it->second.begin();
        if (byCheck == byYara) {
            tally[f.source][byCheck ? "both detect" : "both pass"]++;
            continue;
        }
        tally[f.source]["differ"]++;
        const std::vector<std::string> why =
            Reasons(ReadBytes(f.host), kVariantTable, {byCheck, byYara});
        printf("differ: %s: check %s, yara %s\n", fs::path(f.host).filename().c_str(),
               Verdict(byCheck).c_str(), Verdict(byYara).c_str());
        for (const std::string& w : why)
            printf("    because %s\n", w.c_str());
        if (why.empty()) {
            unexplained++;
            ADD_FAILURE() << f.host << ": check " << Verdict(byCheck) << ", yara "
                          << Verdict(byYara) << ", and no known reason";
        }
    }
    for (auto& [source, outcomes] : tally) {
        printf("%-10s", source.c_str());
        for (auto& [outcome, n] : outcomes)
            printf("  %s: %d", outcome.c_str(), n);
        printf("\n");
    }
    EXPECT_EQ(unexplained, 0);
    // Every specimen is detected by both, and nothing in the corpus by either.
    EXPECT_EQ(tally["specimens"]["both detect"], Rows(kVariantTable) + 4);
    EXPECT_EQ(tally["specimens"].size(), 1u);
    EXPECT_EQ(tally["corpus"].size(), 1u);
}

/* Rules exported from a table of our own: the size modes the built-in table
   does not use, and a displacement that reaches its window only by wrapping
   around 32 bits. The check and yara must agree on every file. */
TEST_F(YaraTest, SizeModesAndWrapAroundAgreeFileByFile) {
    const VariantSignature& base = kVariantTable[44]; // both windows at one place
    auto with = [&](const char* name, int32_t size, int32_t mode) {
        VariantSignature rec = base;
        memset(rec.name, 0, sizeof rec.name);
        snprintf(rec.name, sizeof rec.name, "%s", name);
        rec.fileSize = size;
        rec.sizeMode = mode;
        return rec;
    };
    const int32_t n = base.fileSize;
    // A name yara must be given escaped; the records never tried come first,
    // so a rule of theirs that matched would show.
    std::vector<VariantSignature> table = {
        with("W32/Phantaxis.\"Zero\"\\Mode", n, 0), with("W32/Phantaxis.Four", n, 4),
        with("W32/Phantaxis.Near", n, 2), with("W32/Phantaxis.Any", 1, 3)};

    // A file whose second section sits at the top of the 32-bit address
    // space: entry 0x1000 minus 0x10FF0 reaches it only by wrapping.
    VariantSignature top = with("W32/Phantaxis.Top", 0x800, 1);
    top.offset1 = -0x10FF0; // RVA 0xFFFF0010, file position 0x610
    top.offset2 = -0x10FC0; // RVA 0xFFFF0040, file position 0x640
    specimen::Layout layout;
    layout.entry = 0x1000;
    layout.sections = {{".text", 0x1000, 0x1000, 0x400, 0x200, specimen::kCodeFlags},
                       {".top", 0xFFFF0000, 0xFFFF, 0x600, 0x200, specimen::kDataFlags}};
    layout.entryFilePos = 0x400, layout.window1 = 0x610, layout.window2 = 0x640;
    layout.imageSize = 0x2000;
    const std::vector<uint8_t> wrap = specimen::Build(top, layout);
    table.insert(table.begin() + 2, top);
    table.push_back(VariantSignature{});

    const std::string rules = root_ + "/own.yar";
    std::ofstream(rules) << yara_rules::RulesFile(table.data());
    std::vector<std::pair<std::string, int>> files; // name, row expected of both
    simwin::WriteFile("C:\\wrap.exe", wrap);
    files.push_back({"wrap.exe", 3});
    for (int d : {-4096, -4095, 0, 4095, 4096}) {
        VariantSignature sized = base;
        sized.fileSize = n + d;
        std::string why;
        ASSERT_TRUE(specimen::Plan(sized, &layout, &why)) << why;
        const std::string name = "near" + std::to_string(d) + ".exe";
        simwin::WriteFile("C:\\" + name, specimen::Build(sized, layout));
        files.push_back({name, d > -4096 && d < 4096 ? 4 : 5});
    }

    std::vector<std::string> hostPaths;
    for (auto& [name, row] : files)
        hostPaths.push_back(root_ + "/c/" + name);
    std::string trouble;
    const auto found = RunYara(rules, hostPaths, &trouble);
    EXPECT_EQ(trouble, "");
    RowCheck check(table.data());
    for (auto& [name, row] : files) {
        auto it = found.find(root_ + "/c/" + name);
        EXPECT_EQ(it == found.end() ? 0 : *it->second.begin(), check.Row("C:\\" + name)) << name;
        EXPECT_EQ(check.Row("C:\\" + name), row) << name;
    }
}
