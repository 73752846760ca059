/*
** export_clamav: the built-in variant table as ClamAV logical signatures
** (an .ldb file), so that clamscan can be run on the same tree as the
** program and compared with it.
**
**   export_clamav <out.ldb>
**
** One signature a record, in table order:
**   <name>;Engine:51-255,Target:0[,FileSize:min-max];0&1;<pos1>:<hex1>;<pos2>:<hex2>
** The size filter becomes FileSize (mode 1 the exact length, mode 2 the
** lengths within the tolerance, mode 3 none); a record of any other mode never
** matches and is left out. ClamAV cannot place a pattern relative to an RVA,
** and its EP+n counts from the entry point's file position, which differs
** from the table's rule as soon as a window lies in another section; so both
** windows are given at the absolute file positions they take in the record's
** specimen (the file make_specimens writes), found with the file check's own
** header reading and RVA translation. A signature therefore finds the
** specimen and files laid out like it.
*/
#include "engine/file_check.h"
#include "engine/signatures.h"
#include "platform/win32.h"
#include "tools/pe_specimen.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

/* The file positions the file check reads the two windows of `rec` from, in
   the specimen `bytes` (planted as C:\specimen.exe). */
bool WindowPositions(const VariantSignature& rec, const std::vector<uint8_t>& bytes, uint32_t* pos1,
                     uint32_t* pos2) {
    simwin::WriteFile("C:\\specimen.exe", bytes);
    const int fd = _open("C:\\specimen.exe", _O_RDONLY | _O_BINARY);
    if (fd < 0) return false;
    bool ok = ReadFileHeader(fd) && ReadSectionTable(fd);
    if (ok) {
        const uint8_t* e = g_peImage.optionalHeader + 16;
        const uint32_t entry =
            (uint32_t)e[0] | (uint32_t)e[1] << 8 | (uint32_t)e[2] << 16 | (uint32_t)e[3] << 24;
        *pos1 = RvaToFileOffset(entry + (uint32_t)rec.offset1, fd);
        *pos2 = RvaToFileOffset(entry + (uint32_t)rec.offset2, fd);
    }
    _close(fd);
    // Both windows must hold the patterns there, or the specimen is not what
    // the check finds.
    for (auto [pos, pattern] : {std::pair{*pos1, rec.pattern1}, std::pair{*pos2, rec.pattern2}})
        ok = ok && pos <= bytes.size() && 20 <= bytes.size() - pos &&
             memcmp(bytes.data() + pos, pattern, 20) == 0;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <out.ldb>\n", argv[0]);
        return 2;
    }
    char work[] = "/tmp/export-clamav-XXXXXX";
    if (!mkdtemp(work)) {
        perror("export_clamav: mkdtemp");
        return 1;
    }
    simwin::Reset();
    simwin::MapDrive('C', work);

    std::string out;
    int row = 0, written = 0, skipped = 0, failed = 0;
    for (const VariantSignature* rec = kVariantTable; rec->name[0]; rec++) {
        row++;
        std::string size;
        if (rec->sizeMode == 1) {
            size =
                ",FileSize:" + std::to_string(rec->fileSize) + "-" + std::to_string(rec->fileSize);
        } else if (rec->sizeMode == 2) {
            const int64_t low = std::max<int64_t>(0, (int64_t)rec->fileSize - (SIZE_TOLERANCE - 1));
            size = ",FileSize:" + std::to_string(low) + "-" +
                   std::to_string((int64_t)rec->fileSize + (SIZE_TOLERANCE - 1));
        } else if (rec->sizeMode != 3) {
            skipped++; // never matches
            continue;
        }
        specimen::Layout layout;
        std::string why;
        uint32_t pos1 = 0, pos2 = 0;
        if (!specimen::Plan(*rec, &layout, &why) ||
            !WindowPositions(*rec, specimen::Build(*rec, layout), &pos1, &pos2)) {
            fprintf(stderr, "export_clamav: row %d (%.49s): no specimen to place the windows%s%s\n",
                    row, rec->name, why.empty() ? "" : ": ", why.c_str());
            failed++;
            continue;
        }
        char name[sizeof rec->name];
        memcpy(name, rec->name, sizeof name - 1);
        name[sizeof name - 1] = 0;
        out += std::string(name) + ";Engine:51-255,Target:0" + size + ";0&1;" +
               std::to_string(pos1) + ":" + Hex(rec->pattern1, 20) + ";" + std::to_string(pos2) +
               ":" + Hex(rec->pattern2, 20) + "\n";
        written++;
    }
    simwin::Reset();
    std::error_code ec;
    fs::remove_all(work, ec);

    FILE* f = fopen(argv[1], "w");
    if (!f || fputs(out.c_str(), f) < 0 || fclose(f) != 0) {
        fprintf(stderr, "export_clamav: cannot write %s\n", argv[1]);
        return 1;
    }
    printf("export_clamav: %d records, %d signatures written, %d never match, %d failed\n", row,
           written, skipped, failed);
    return failed ? 1 : 0;
}
