/*
** make_specimens: writes one harmless PE file per record of the built-in
** variant table, rec-NNN.exe for row NNN (from 1), each one a file that the
** file check detects under that record's name, and two of them also as
** programs that run (run-NNN.exe 64-bit, run32-NNN.exe 32-bit).
**
**   make_specimens <folder>
**
** The files come from the engine's own table, so they always describe the
** table this build carries. A file whose bytes are already right is left as
** it is; others are written to a temporary name and renamed into place, so
** two builds making the same folder at once never show a reader a torn file.
*/
#include "engine/signatures.h"
#include "tools/pe_specimen.h"
#include "tools/runnable_specimen.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

static bool SameBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<uint8_t> old((std::istreambuf_iterator<char>(in)), {});
    return old == bytes;
}

static bool WriteAtomically(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::path tmp = path;
    tmp += ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
        if (!out.flush()) return false;
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    fs::path dir = argv[1];
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        fprintf(stderr, "make_specimens: cannot create %s: %s\n", argv[1], ec.message().c_str());
        return 1;
    }
    int rows = 0, written = 0, failed = 0;
    for (const VariantSignature* rec = kVariantTable; rec->name[0]; rec++) {
        rows++;
        specimen::Layout layout;
        std::string why;
        if (!specimen::Plan(*rec, &layout, &why)) {
            fprintf(stderr, "make_specimens: row %d (%.49s): %s\n", rows, rec->name, why.c_str());
            failed++;
            continue;
        }
        std::vector<uint8_t> bytes = specimen::Build(*rec, layout);
        char name[32];
        snprintf(name, sizeof name, "rec-%03d.exe", rows);
        fs::path path = dir / name;
        if (SameBytes(path, bytes)) continue;
        if (!WriteAtomically(path, bytes)) {
            fprintf(stderr, "make_specimens: cannot write %s\n", path.c_str());
            failed++;
            continue;
        }
        written++;
    }
    // Two of the records also as real, runnable programs: run-NNN.exe for
    // 64-bit Windows, run32-NNN.exe for every Windows.
    for (int row : runnable::ChooseRows(kVariantTable)) {
        for (int bits : {64, 32}) {
            std::vector<uint8_t> bytes;
            runnable::Build(kVariantTable[row - 1], bits, &bytes);
            char name[32];
            snprintf(name, sizeof name, bits == 64 ? "run-%03d.exe" : "run32-%03d.exe", row);
            fs::path path = dir / name;
            if (!SameBytes(path, bytes) && !WriteAtomically(path, bytes)) {
                fprintf(stderr, "make_specimens: cannot write %s\n", path.c_str());
                failed++;
            }
        }
    }
    printf("make_specimens: %d rows, %d files written, %d up to date, %d failed\n", rows, written,
           rows - written - failed, failed);
    return failed ? 1 : 0;
}
