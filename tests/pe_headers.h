/*
** PE files for the tests: a standard reader of a file's headers (with the
** section table where the file check looks for it), and the one table of
** damaged and unusual headers that the file-check, hostile-scan and YARA
** tests share. Field offsets are in engine/pe_layout.h, little-endian access
** in tools/pe_bytes.h.
*/
#ifndef TESTS_PE_HEADERS_H
#define TESTS_PE_HEADERS_H

#include "engine/pe_layout.h"
#include "engine/signatures.h"
#include "tools/pe_bytes.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using pebytes::Get16;
using pebytes::Get32;
using pebytes::Put16;
using pebytes::Put32;

/* A file's headers as a standard PE reader finds them, and the section
   table where the file check looks for it (after a 224-byte optional
   header). Fields outside the file read as 0. */
struct Pe {
    struct Section {
        uint32_t at; // position of the header in the file
        uint32_t virtualSize, virtualAddress, rawSize, rawPointer, flags;
    };
    explicit Pe(const std::vector<uint8_t>& bytes) : b(bytes) {
        mz = b.size() >= 2 && b[0] == 'M' && b[1] == 'Z';
        pointer = Get32(b, pe::kDosNewHeader);
        header = pointer & 0xFFFF; // where both readers agree, the same
        optional = header + pe::kNtOptionalHeader;
        sections = Get16(b, header + pe::kNtFileHeader + pe::kNumberOfSections);
        optionalSize = Get16(b, header + pe::kNtFileHeader + pe::kSizeOfOptionalHeader);
        entry = Get32(b, optional + pe::kAddressOfEntryPoint);
        fileAlignment = Get32(b, optional + pe::kFileAlignment);
        sizeOfHeaders = Get32(b, optional + pe::kSizeOfHeaders);
        for (uint32_t i = 0; i < sections && i < 20; i++) {
            const uint32_t at = header + pe::kNtHeaders32Size + i * pe::kSectionHeaderSize;
            table.push_back({at, Get32(b, at + pe::kVirtualSize),
                             Get32(b, at + pe::kVirtualAddress), Get32(b, at + pe::kSizeOfRawData),
                             Get32(b, at + pe::kPointerToRawData),
                             Get32(b, at + pe::kSectionCharacteristics)});
        }
    }
    /* The section that holds `rva`, or -1. */
    int Holding(uint32_t rva) const {
        for (size_t i = 0; i < table.size(); i++)
            if (rva >= table[i].virtualAddress &&
                rva - table[i].virtualAddress < table[i].virtualSize)
                return (int)i;
        return -1;
    }
    /* The section that holds the first window of `rec`, when one does. */
    const Section* Window1Section(const VariantSignature& rec) const {
        const int i = Holding(entry + (uint32_t)rec.offset1);
        return i < 0 ? nullptr : &table[i];
    }
    /* File position of `rva` in its section, or -1. */
    int64_t Position(uint32_t rva) const {
        const int i = Holding(rva);
        return i < 0 ? -1 : (int64_t)table[i].rawPointer + (rva - table[i].virtualAddress);
    }
    const std::vector<uint8_t>& b;
    bool mz;
    uint32_t pointer, header, optional, sections, optionalSize, entry, fileAlignment, sizeOfHeaders;
    std::vector<Section> table;
};

/* What the file check makes of specimen 54 (44032 bytes, three sections)
   damaged so, under its own record: its headers refused (nothing read
   beyond them), read but not matched, or detected all the same. */
enum class Outcome { Refused, Passed, Detected };

struct HeaderDamage {
    std::string name;
    Outcome outcome;
    /* Damages `b`, a copy of the specimen of `rec` that `pe` reads; false
       when the damage does not apply to that specimen. */
    std::function<bool(std::vector<uint8_t>& b, const Pe& pe, const VariantSignature& rec)> apply;
};

/* The damaged and unusual headers, one row each. */
inline const std::vector<HeaderDamage>& HeaderDamages() {
    using B = std::vector<uint8_t>;
    using R = VariantSignature;
    using V = Outcome;
    static std::vector<HeaderDamage> rows;
    if (!rows.empty()) return rows;
    auto add = [](std::string name, Outcome outcome, decltype(HeaderDamage::apply) apply) {
        rows.push_back({std::move(name), outcome, std::move(apply)});
    };
    // No headers at all.
    for (std::string text : {"", "This is a letter, not a program. It is long enough to hold a DOS "
                                 "header."})
        add(text.empty() ? "empty" : "text", V::Refused, [text](B& b, const Pe&, const R&) {
            b.assign(text.begin(), text.end());
            return true;
        });
    // Cut inside the DOS header's pointer, the signature, the file header,
    // the optional header and the section table.
    for (int cut = 0; cut < 6; cut++)
        add("cut-" + std::to_string(cut), V::Refused, [cut](B& b, const Pe& pe, const R&) {
            const uint32_t table = pe.header + pe::kNtHeaders32Size;
            const uint32_t at[] = {30,        61, pe.header + 3, pe.optional - 1, pe.optional + 95,
                                   table + 39};
            b.resize(at[cut]);
            return true;
        });
    // The header pointer aims at the last `back` bytes, which hold as much of
    // the real header as fits (with its own count of sections, or 20): the
    // section table runs past the end.
    for (uint32_t back : {1u, 2u, 4u, 10u, 24u, 100u, 268u, 0u}) {
        const std::string name = back ? "pointer-to-last-" + std::to_string(back) : "20-past-end";
        add(name, V::Refused, [back](B& b, const Pe& pe, const R&) {
            const uint32_t size = back ? back : 268, at = (uint32_t)b.size() - size;
            if (at > 0xFFFF || pe.header + size > b.size()) return false;
            Put16(b, pe::kDosNewHeader, at);
            std::copy(pe.b.begin() + pe.header, pe.b.begin() + pe.header + size, b.begin() + at);
            if (!back) Put16(b, at + pe::kNtFileHeader + pe::kNumberOfSections, 20);
            return true;
        });
    }
    add("21-sections", V::Refused, [](B& b, const Pe& pe, const R&) {
        Put16(b, pe.header + pe::kNtFileHeader + pe::kNumberOfSections, 21);
        return true;
    });
    add("pointer-past-end", V::Refused, [](B& b, const Pe&, const R&) {
        Put32(b, pe::kDosNewHeader, (uint32_t)b.size() + 0x40);
        return true;
    });
    // The pointer's low 16 bits aim at the real header, whose place is
    // beyond 65535: the check, reading only those bits, misses it.
    add("header-above-65535", V::Refused, [](B& b, const Pe& pe, const R&) {
        if (pe.sizeOfHeaders > 0x400 || b.size() < 0x400) return false;
        B far(0x10200, 0);
        std::copy(b.begin(), b.begin() + 0x400, far.begin());
        std::copy(b.begin() + pe.header, b.begin() + 0x200, far.begin() + 0x10000 + pe.header);
        std::fill(far.begin() + pe.header, far.begin() + 0x200, 0);
        Put32(far, pe::kDosNewHeader, 0x10000 + pe.header);
        b = far;
        return true;
    });
    // ... the real header where the low bits aim: the check reads it.
    add("pointer-above-64k", V::Detected, [](B& b, const Pe& pe, const R&) {
        Put32(b, pe::kDosNewHeader, pe.header + 0x10000);
        return true;
    });
    add("optional-header-240", V::Detected, [](B& b, const Pe& pe, const R&) {
        Put16(b, pe.header + pe::kNtFileHeader + pe::kSizeOfOptionalHeader, 240);
        return true;
    });
    add("no-mz", V::Detected, [](B& b, const Pe&, const R&) {
        b[0] = b[1] = 0;
        return true;
    });
    // Sections whose raw data lie far beyond the end of the file.
    add("raw-data-beyond-end", V::Passed, [](B& b, const Pe& pe, const R&) {
        for (size_t i = 0; i < pe.table.size() && i < 3; i++)
            Put32(b, pe.table[i].at + pe::kPointerToRawData, 0xFFFFF000u - (uint32_t)i);
        return true;
    });
    for (int grow : {1, -1})
        add(grow > 0 ? "size-plus-one" : "size-minus-one", V::Passed,
            [grow](B& b, const Pe&, const R&) {
                b.resize(b.size() + grow);
                return true;
            });
    add("entry-moved", V::Passed, [](B& b, const Pe& pe, const R&) {
        Put32(b, pe.optional + pe::kAddressOfEntryPoint, pe.entry + 4);
        return true;
    });
    // The rows below change the first window's place or its section.
    add("window-shifted", V::Passed, [](B& b, const Pe& pe, const R& rec) {
        const int64_t w = pe.Position(pe.entry + (uint32_t)rec.offset1);
        if (w < 0 || w + 21 > (int64_t)b.size()) return false;
        memmove(&b[w + 1], &b[w], 20);
        return true;
    });
    // The whole image one page higher in the address space.
    add("sections-moved", V::Detected, [](B& b, const Pe& pe, const R&) {
        for (const Pe::Section& s : pe.table)
            Put32(b, s.at + pe::kVirtualAddress, s.virtualAddress + 0x10000);
        Put32(b, pe.optional + pe::kAddressOfEntryPoint, pe.entry + 0x10000);
        Put32(b, pe.optional + pe::kSizeOfImage,
              Get32(b, pe.optional + pe::kSizeOfImage) + 0x10000);
        return true;
    });
    // The first window's section data 16 bytes later in the file.
    add("raw-data-moved", V::Detected, [](B& b, const Pe& pe, const R& rec) {
        const Pe::Section* s = pe.Window1Section(rec);
        if (!s || s->rawSize < 16 || (uint64_t)s->rawPointer + s->rawSize > b.size()) return false;
        memmove(&b[s->rawPointer + 16], &b[s->rawPointer], s->rawSize - 16);
        Put32(b, s->at + pe::kPointerToRawData, s->rawPointer + 16);
        return true;
    });
    // The first window's section holds no file data from the window on.
    add("raw-size-cut", V::Detected, [](B& b, const Pe& pe, const R& rec) {
        const Pe::Section* s = pe.Window1Section(rec);
        if (!s) return false;
        Put32(b, s->at + pe::kSizeOfRawData, pe.entry + (uint32_t)rec.offset1 - s->virtualAddress);
        return true;
    });
    // A last section ending before the windows: the check still reads them.
    add("last-section-short", V::Detected, [](B& b, const Pe& pe, const R&) {
        Put32(b, pe.table.back().at + pe::kVirtualSize, 0x10);
        return true;
    });
    // The first window placed where the check reads position 0.
    add("window-at-position-0", V::Detected, [](B& b, const Pe& pe, const R& rec) {
        const Pe::Section& first = pe.table[0];
        const uint32_t zero = first.virtualAddress - first.rawPointer;
        const uint32_t entry = zero - (uint32_t)rec.offset1;
        const int64_t window2 = pe.Position(entry + (uint32_t)rec.offset2);
        if (first.rawPointer >= first.virtualAddress || window2 < 0 ||
            window2 + 20 > (int64_t)b.size() || pe.sizeOfHeaders + 20 > b.size())
            return false;
        Put32(b, pe.optional + pe::kAddressOfEntryPoint, entry);
        memcpy(&b[pe.sizeOfHeaders], rec.pattern1, 20);
        memcpy(&b[window2], rec.pattern2, 20);
        return true;
    });
    // An overlapping section header ahead of the real ones.
    add("sections-out-of-order", V::Passed, [](B& b, const Pe& pe, const R& rec) {
        const Pe::Section* s = pe.Window1Section(rec);
        const uint32_t table = pe.table[0].at, count = (uint32_t)pe.table.size();
        const uint32_t size = pe::kSectionHeaderSize;
        if (!s || table + (count + 1) * size > pe.sizeOfHeaders) return false;
        memmove(&b[table + size], &b[table], count * size);
        memcpy(&b[table], ".late\0\0\0", 8);
        Put32(b, table + pe::kVirtualSize, 0x10000000); // huge
        Put32(b, table + pe::kVirtualAddress, s->virtualAddress);
        Put32(b, table + pe::kSizeOfRawData, 0x200);
        Put32(b, table + pe::kPointerToRawData, s->rawPointer + 0x200); // elsewhere
        Put16(b, pe.header + pe::kNtFileHeader + pe::kNumberOfSections, count + 1);
        return true;
    });
    return rows;
}

/* Specimen bytes `good` of `rec` damaged by `damage` into `out`; false when
   the damage does not apply to that specimen. */
inline bool Damage(const std::vector<uint8_t>& good, const VariantSignature& rec,
                   const HeaderDamage& damage, std::vector<uint8_t>* out) {
    const Pe pe(good);
    *out = good;
    return !pe.table.empty() && damage.apply(*out, pe, rec);
}

#endif
