/*
** export_clamav: the built-in variant table as ClamAV logical signatures
** (an .ldb file), so that clamscan can be run on the same tree as the
** program and compared with it.
**
**   export_clamav <out.ldb>
**
** One signature a record, in table order:
**   <name>;Engine:51-255,Target:1[,FileSize:min-max];<w1>&<w2>;<subsignatures>
** where each window is one subsignature "EP+n:<hex>" (see below) or, as
** "(i|j)", that one and a second in a section ("Sx+n").
** Target 1 is ClamAV's PE file: a file that is no PE program is never
** reported, whatever bytes it holds. The size filter becomes FileSize (mode
** 1 the exact length, mode 2 the lengths within the tolerance, mode 3 none);
** a record of any other mode never matches and is left out.
**
** The check reads a window at the file position of the RVA entry + offset,
** through the section that holds that RVA. When that is the entry point's
** own section, the window lies exactly `offset` bytes from the entry
** point's file position in every file, and ClamAV says so: "EP+offset" (or
** "EP-n"). A window that the check maps through another section moves with
** that section's place in the file, which ClamAV cannot follow: where the
** record's specimen (the file make_specimens writes) puts a window in
** another section than the entry point's, by the file check's own header
** reading and section choice, the signature also takes the window where it
** lies there: n bytes into the data of section x, "Sx+n". ClamAV counts
** sections and entry points only in files it reads as PE programs; an
** absolute position would also be found in any file that merely starts
** with "MZ" (a DOS program, a damaged one), which ClamAV takes for Target 1
** too. Only a window outside its section's data in the file (none in the
** specimens) is taken at its absolute position. So a signature finds every
** program whose windows lie in its entry point's section, where ClamAV
** finds that entry point in a section's data in the file (the runnable
** specimens, each one section), and the specimen and programs laid out like
** it; the program's own check decides: it also finds an entry point in the
** part of a section that has no data in the file, and ClamAV does not.
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

/* One window of a record, as the file check reads it from the specimen. */
struct Window {
    uint32_t position; // in the specimen
    bool fromEntry;    // lies in the entry point's section there
    int section;       // else the section whose data holds it there, or -1
    uint32_t intoSection;
    int32_t displacement;
    /* Its subsignatures, each "offset:hex", appended to `subsigs`, and the
       logical expression that takes either: "EP+n" always (exact in every
       file where the window lies in the entry point's section), and the
       specimen's absolute position too where it does not lie there. */
    std::string Add(const uint8_t* pattern, std::vector<std::string>* subsigs) const {
        const std::string hex = ":" + Hex(pattern, 20);
        const std::string first = std::to_string(subsigs->size());
        subsigs->push_back((displacement < 0 ? "EP-" + std::to_string(-(int64_t)displacement)
                                             : "EP+" + std::to_string(displacement)) +
                           hex);
        if (fromEntry) return first;
        subsigs->push_back((section >= 0
                                ? "S" + std::to_string(section) + "+" + std::to_string(intoSection)
                                : std::to_string(position)) +
                           hex);
        return "(" + first + "|" + std::to_string(subsigs->size() - 1) + ")";
    }
};

/* The two windows of `rec`, as the file check reads them from the specimen
   `bytes` (planted as C:\specimen.exe). */
bool Windows(const VariantSignature& rec, const std::vector<uint8_t>& bytes, Window w[2]) {
    simwin::WriteFile("C:\\specimen.exe", bytes);
    const int fd = _open("C:\\specimen.exe", _O_RDONLY | _O_BINARY);
    if (fd < 0) return false;
    PeImageInfo image;
    bool ok = ReadFileHeader(fd, &image) && ReadSectionTable(fd, &image);
    if (ok) {
        const uint32_t entry = pe::Le32(image.optionalHeader + pe::kAddressOfEntryPoint);
        const uint32_t entryPos = RvaToFileOffset(image, entry, fd);
        const int32_t offsets[2] = {rec.offset1, rec.offset2};
        for (int i = 0; i < 2; i++) {
            const uint32_t rva = entry + (uint32_t)offsets[i];
            w[i].position = RvaToFileOffset(image, rva, fd);
            w[i].displacement = offsets[i];
            // The same section, and no fallback of the check's translation
            // (a position past the end, or 0) on either side.
            w[i].fromEntry = SectionOfRva(image, rva) == SectionOfRva(image, entry) &&
                             w[i].position == entryPos + (uint32_t)offsets[i];
            // The section whose data in the file holds the whole window.
            const int x = SectionOfRva(image, rva);
            w[i].section = -1;
            if (x >= 0) {
                const uint8_t* header = image.sections + x * pe::kSectionHeaderSize;
                const uint32_t raw = pe::Le32(header + pe::kPointerToRawData);
                const uint32_t rawSize = pe::Le32(header + pe::kSizeOfRawData);
                if (w[i].position >= raw && rawSize >= 20 && w[i].position - raw <= rawSize - 20) {
                    w[i].section = x;
                    w[i].intoSection = w[i].position - raw;
                }
            }
        }
    }
    _close(fd);
    // Both windows must hold the patterns there, or the specimen is not what
    // the check finds.
    const uint8_t* patterns[2] = {rec.pattern1, rec.pattern2};
    for (int i = 0; i < 2 && ok; i++)
        ok = w[i].position <= bytes.size() && 20 <= bytes.size() - w[i].position &&
             memcmp(bytes.data() + w[i].position, patterns[i], 20) == 0;
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
    int row = 0, written = 0, skipped = 0, failed = 0, fromEntry = 0;
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
        Window w[2] = {};
        if (!specimen::Plan(*rec, &layout, &why) ||
            !Windows(*rec, specimen::Build(*rec, layout), w)) {
            fprintf(stderr, "export_clamav: row %d (%.49s): no specimen to place the windows%s%s\n",
                    row, rec->name, why.empty() ? "" : ": ", why.c_str());
            failed++;
            continue;
        }
        char name[sizeof rec->name];
        memcpy(name, rec->name, sizeof name - 1);
        name[sizeof name - 1] = 0;
        std::vector<std::string> subsigs;
        std::string both = w[0].Add(rec->pattern1, &subsigs);
        both += "&" + w[1].Add(rec->pattern2, &subsigs);
        out += std::string(name) + ";Engine:51-255,Target:1" + size + ";" + both;
        for (const std::string& subsig : subsigs)
            out += ";" + subsig;
        out += "\n";
        written++;
        fromEntry += w[0].fromEntry && w[1].fromEntry;
    }
    simwin::Reset();
    std::error_code ec;
    fs::remove_all(work, ec);

    FILE* f = fopen(argv[1], "w");
    if (!f || fputs(out.c_str(), f) < 0 || fclose(f) != 0) {
        fprintf(stderr, "export_clamav: cannot write %s\n", argv[1]);
        return 1;
    }
    printf("export_clamav: %d records, %d signatures written (%d from the entry point alone), %d "
           "never match, %d failed\n",
           row, written, fromEntry, skipped, failed);
    return failed ? 1 : 0;
}
