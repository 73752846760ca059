/*
** Specimen layout: turns one variant record into a harmless, well-formed PE32
** file of exactly the record's size whose two windows hold the record's
** patterns where the file check looks for them.
**
** The file check reads a window at RvaToFileOffset(entry + offset). The
** layout therefore works in displacement space around the entry point: the
** entry code and the two windows are intervals there; intervals that lie
** close together share one section, far ones get a section of their own.
** Sections follow each other without gaps in the address space (each one's
** VirtualSize reaches the next one's VirtualAddress), so the first section
** whose end lies above an RVA is the one that contains it, exactly as the
** file check's translation assumes; a section's raw data is only as large as
** the intervals in it need, which lets a window lie far beyond the file's
** length in the address space (its VirtualSize covers the gap).
**
** The entry code is "xor eax, eax; ret": the program does nothing. The DOS
** stub only ends the program under DOS.
*/
#ifndef TOOLS_PE_SPECIMEN_H
#define TOOLS_PE_SPECIMEN_H

#include "engine/pe_layout.h"
#include "engine/signatures.h"
#include "tools/pe_bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace specimen {

constexpr uint32_t kPeOffset = 0x80;       // e_lfanew
constexpr uint32_t kHeaderSize = 0x400;    // SizeOfHeaders
constexpr uint32_t kFileAlign = 0x200;     // FileAlignment
constexpr uint32_t kSectionAlign = 0x1000; // SectionAlignment
constexpr uint32_t kImageBase = 0x400000;  // ImageBase
constexpr uint32_t kEntryCodeSize = 16;    // bytes kept for the entry code
constexpr int64_t kMergeGap = 0x2000;      // nearer intervals share a section
constexpr uint32_t kSectionTable = kPeOffset + pe::kNtHeaders32Size;
constexpr uint32_t kCodeFlags = 0x60000020; // code, execute, read
constexpr uint32_t kDataFlags = 0xC0000040; // initialised data, read, write

struct Section {
    char name[8];
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawPointer;
    uint32_t rawSize;
    uint32_t flags;
};

struct Layout {
    uint32_t entry = 0; // AddressOfEntryPoint
    std::vector<Section> sections;
    uint32_t window1 = 0, window2 = 0, entryFilePos = 0; // file positions
    uint32_t imageSize = 0;
};

inline uint32_t AlignDown(uint32_t v, uint32_t a) { return v / a * a; }
inline uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

/* One interval of displacement space [start, end) relative to the entry. */
struct Span {
    int64_t start, end;
    bool entry;
};

/* Plans the file for `rec`; false (with a reason) when it cannot be laid out
   within the record's size. */
inline bool Plan(const VariantSignature& rec, Layout* out, std::string* why) {
    const int64_t size = rec.fileSize;
    const int64_t o1 = rec.offset1, o2 = rec.offset2;
    auto overlaps = [](int64_t a, int64_t alen, int64_t b, int64_t blen) {
        return a < b + blen && b < a + alen;
    };
    if (overlaps(o1, 20, 0, kEntryCodeSize) || overlaps(o2, 20, 0, kEntryCodeSize)) {
        *why = "a window overlaps the entry code";
        return false;
    }
    if (o1 != o2 && overlaps(o1, 20, o2, 20)) {
        *why = "the two windows overlap";
        return false;
    }
    if (o1 == o2 && memcmp(rec.pattern1, rec.pattern2, 20) != 0) {
        *why = "one position with two different patterns";
        return false;
    }

    std::vector<Span> spans = {{0, kEntryCodeSize, true}, {o1, o1 + 20, false}};
    if (o2 != o1) spans.push_back({o2, o2 + 20, false});
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    std::vector<Span> clusters;
    for (const Span& s : spans) {
        if (!clusters.empty() && s.start - clusters.back().end <= kMergeGap) {
            clusters.back().end = std::max(clusters.back().end, s.end);
            clusters.back().entry = clusters.back().entry || s.entry;
        } else {
            clusters.push_back(s);
        }
    }

    // The first cluster starts m bytes into the first page; pick the m that
    // needs the fewest raw bytes (it moves every later cluster within its page).
    int64_t bestTotal = -1;
    Layout best;
    for (uint32_t m = 0; m < kSectionAlign; m += 4) {
        Layout l;
        const int64_t entry = kSectionAlign + m - clusters[0].start;
        if (entry + clusters.back().end > 0x7FFF0000) break; // stays far below 2 GB
        l.entry = (uint32_t)entry;
        uint32_t raw = kHeaderSize;
        bool fits = true;
        for (size_t k = 0; k < clusters.size(); k++) {
            Section s{};
            const uint32_t vaStart = (uint32_t)(entry + clusters[k].start);
            const uint32_t vaEnd = (uint32_t)(entry + clusters[k].end);
            s.virtualAddress = k == 0 ? kSectionAlign : AlignDown(vaStart, kSectionAlign);
            s.rawSize = AlignUp(vaEnd - s.virtualAddress, kFileAlign);
            s.rawPointer = raw;
            s.virtualSize = s.rawSize;
            s.flags = clusters[k].entry ? kCodeFlags : kDataFlags;
            if (k > 0) {
                Section& prev = l.sections.back();
                if (s.virtualAddress < prev.virtualAddress + prev.rawSize) fits = false;
                prev.virtualSize = s.virtualAddress - prev.virtualAddress;
            }
            raw += s.rawSize;
            l.sections.push_back(s);
        }
        if (!fits) continue;
        if (bestTotal < 0 || raw < bestTotal) {
            bestTotal = raw;
            best = l;
        }
    }
    if (bestTotal < 0 || bestTotal > size) {
        *why = "the sections need " + std::to_string(bestTotal) + " bytes, the file has " +
               std::to_string(size);
        return false;
    }

    int dataCount = 0;
    for (Section& s : best.sections) {
        const char* name = s.flags == kCodeFlags ? ".text" : dataCount++ ? ".data" : ".rdata";
        memset(s.name, 0, sizeof s.name);
        memcpy(s.name, name, strlen(name));
    }
    const Section& last = best.sections.back();
    best.imageSize = AlignUp(last.virtualAddress + last.virtualSize, kSectionAlign);
    auto filePos = [&](int64_t displacement) {
        const uint32_t rva = (uint32_t)(best.entry + displacement);
        for (const Section& s : best.sections)
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.virtualSize)
                return s.rawPointer + (rva - s.virtualAddress);
        return 0u;
    };
    best.window1 = filePos(o1);
    best.window2 = filePos(o2);
    best.entryFilePos = filePos(0);
    *out = best;
    return true;
}

using pebytes::Put16;
using pebytes::Put32;

/* The file's bytes, exactly rec.fileSize of them. */
inline std::vector<uint8_t> Build(const VariantSignature& rec, const Layout& l) {
    std::vector<uint8_t> f((size_t)rec.fileSize, 0);
    // DOS header: 3 pages, 4 header paragraphs, the stub right after it.
    f[0] = 'M', f[1] = 'Z';
    Put16(f, pe::kDosLastPageBytes, 0x90);
    Put16(f, pe::kDosPages, 3);
    Put16(f, pe::kDosHeaderParagraphs, 4);
    Put16(f, pe::kDosMaxAlloc, 0xFFFF);
    Put16(f, pe::kDosStackPointer, 0xB8);
    Put16(f, pe::kDosRelocations, 0x40);
    Put32(f, pe::kDosNewHeader, kPeOffset);
    const uint8_t stub[] = {0xB8, 0x01, 0x4C, 0xCD, 0x21}; // mov ax, 4C01h; int 21h
    memcpy(&f[pe::kDosHeaderSize], stub, sizeof stub);

    // "PE\0\0" and IMAGE_FILE_HEADER.
    memcpy(&f[kPeOffset], "PE\0\0", 4);
    const uint32_t fh = kPeOffset + pe::kNtFileHeader;
    Put16(f, fh + pe::kMachine, 0x14C); // i386
    Put16(f, fh + pe::kNumberOfSections, (uint32_t)l.sections.size());
    Put32(f, fh + pe::kTimeDateStamp, 0x3B9ACA00); // fixed so builds are repeatable
    Put16(f, fh + pe::kSizeOfOptionalHeader, pe::kOptionalHeader32Size);
    Put16(f, fh + pe::kCharacteristics, 0x010F); // relocs stripped, executable, 32-bit, no symbols

    // PE32 optional header with 16 (empty) data directories.
    uint32_t codeSize = 0, dataSize = 0, baseOfCode = 0, baseOfData = 0;
    for (const Section& s : l.sections) {
        if (s.flags == kCodeFlags) {
            codeSize += s.rawSize;
            if (!baseOfCode) baseOfCode = s.virtualAddress;
        } else {
            dataSize += s.rawSize;
            if (!baseOfData) baseOfData = s.virtualAddress;
        }
    }
    const uint32_t oh = kPeOffset + pe::kNtOptionalHeader;
    Put16(f, oh + pe::kMagic, 0x10B); // PE32
    f[oh + pe::kMajorLinkerVersion] = 6;
    Put32(f, oh + pe::kSizeOfCode, codeSize);
    Put32(f, oh + pe::kSizeOfInitializedData, dataSize);
    Put32(f, oh + pe::kAddressOfEntryPoint, l.entry);
    Put32(f, oh + pe::kBaseOfCode, baseOfCode);
    Put32(f, oh + pe::kBaseOfData, baseOfData);
    Put32(f, oh + pe::kImageBase, kImageBase);
    Put32(f, oh + pe::kSectionAlignment, kSectionAlign);
    Put32(f, oh + pe::kFileAlignment, kFileAlign);
    Put16(f, oh + pe::kMajorOperatingSystemVersion, 4); // 4.0
    Put16(f, oh + pe::kMajorSubsystemVersion, 4);
    Put32(f, oh + pe::kSizeOfImage, l.imageSize);
    Put32(f, oh + pe::kSizeOfHeaders, kHeaderSize);
    Put16(f, oh + pe::kSubsystem, 2); // Windows GUI
    Put32(f, oh + pe::kSizeOfStackReserve, 0x100000);
    Put32(f, oh + pe::kSizeOfStackCommit, 0x1000);
    Put32(f, oh + pe::kSizeOfHeapReserve, 0x100000);
    Put32(f, oh + pe::kSizeOfHeapCommit, 0x1000);
    Put32(f, oh + pe::kNumberOfRvaAndSizes, 16);

    for (size_t i = 0; i < l.sections.size(); i++) {
        const Section& s = l.sections[i];
        const uint32_t at = kSectionTable + (uint32_t)i * pe::kSectionHeaderSize;
        memcpy(&f[at], s.name, 8);
        Put32(f, at + pe::kVirtualSize, s.virtualSize);
        Put32(f, at + pe::kVirtualAddress, s.virtualAddress);
        Put32(f, at + pe::kSizeOfRawData, s.rawSize);
        Put32(f, at + pe::kPointerToRawData, s.rawPointer);
        Put32(f, at + pe::kSectionCharacteristics, s.flags);
    }

    const uint8_t code[] = {0x33, 0xC0, 0xC3}; // xor eax, eax; ret
    memcpy(&f[l.entryFilePos], code, sizeof code);
    memcpy(&f[l.window1], rec.pattern1, 20);
    memcpy(&f[l.window2], rec.pattern2, 20);
    return f;
}

} // namespace specimen

#endif
