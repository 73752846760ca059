/*
** Runnable specimens: real Windows programs, 32-bit (PE32) and 64-bit
** (PE32+), that wait until they are terminated (they call Sleep for ever)
** and whose windows match a record of the variant table, so that the memory
** scan can be tried for real with either build of the program.
**
** Both have one section laid out one to one (PointerToRawData ==
** VirtualAddress), so every RVA in it is also its file position.
**
** A PE32 file needs nothing more: the file check reads its section table
** where the loader does. The check reads every file as PE32, though: it
** takes the section table to start right after a 224-byte optional header,
** which in a PE32+ file lies 16 bytes before the real table. What the check
** calls section 0 of a PE32+ file is then made of the last two data
** directories and the first 24 bytes of the real section header:
**
**   check's VirtualSize      = data directory 15 (reserved) .VirtualAddress
**   check's VirtualAddress   = data directory 15 .Size
**   check's PointerToRawData = bytes 4..7 of the real section's name
**
** The loader ignores the reserved directory, so it holds a huge size and a
** zero address, and the section's name is at most four characters long: the
** check's view maps every RVA to the same file position too.
*/
#ifndef TOOLS_RUNNABLE_SPECIMEN_H
#define TOOLS_RUNNABLE_SPECIMEN_H

#include "engine/pe_layout.h"
#include "engine/signatures.h"
#include "tools/pe_bytes.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace runnable {

constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kHeaderSize = 0x400;
constexpr uint32_t kSection = 0x1000;   // VirtualAddress == PointerToRawData
constexpr uint32_t kImports = kSection; // import tables at the section's start
constexpr uint32_t kImportsSize = 0x100;
constexpr uint32_t kCodeSize = 17; // room for the longer (64-bit) loop
constexpr uint32_t kCheckViewSize = 0x7FFF0000;
constexpr uint32_t kImageBase32 = 0x400000;

/* Offsets inside the import block. */
constexpr uint32_t kIdt = 0x00;       // two descriptors (20 bytes each)
constexpr uint32_t kIlt = 0x30;       // three thunks (4 or 8 bytes each)
constexpr uint32_t kIat = 0x50;       // three thunks
constexpr uint32_t kDllName = 0x70;   // "KERNEL32.dll"
constexpr uint32_t kSleepName = 0x80; // hint + "Sleep"
constexpr uint32_t kExitName = 0x90;  // hint + "ExitProcess"

using pebytes::Put16;
using pebytes::Put32;
using pebytes::Put64;

inline bool Overlap(int64_t a, int64_t alen, int64_t b, int64_t blen) {
    return a < b + blen && b < a + alen;
}

/* The entry point for `rec`: code, imports and both windows inside the
   section, none overlapping; 0 when the record's size leaves no room. */
inline uint32_t ChooseEntry(const VariantSignature& rec) {
    const int64_t end = rec.fileSize;
    const int64_t lo = kSection + kImportsSize;
    for (int64_t e = lo; e + kCodeSize <= end; e += 16) {
        int64_t w1 = e + rec.offset1, w2 = e + rec.offset2;
        if (w1 < lo || w2 < lo || w1 + 20 > end || w2 + 20 > end) continue;
        if (Overlap(w1, 20, e, kCodeSize) || Overlap(w2, 20, e, kCodeSize)) continue;
        if (w1 != w2 && Overlap(w1, 20, w2, 20)) continue;
        return (uint32_t)e;
    }
    return 0;
}

/* Builds the program for `bits` 32 (i386, PE32) or 64 (AMD64, PE32+);
   false when the record cannot hold it. */
inline bool Build(const VariantSignature& rec, int bits, std::vector<uint8_t>* out) {
    const bool wide = bits == 64;
    if (bits != 32 && !wide) return false;
    const uint32_t entry = ChooseEntry(rec);
    if (!entry || rec.fileSize < (int32_t)(kSection + 0x200)) return false;
    if (rec.offset1 == rec.offset2 && memcmp(rec.pattern1, rec.pattern2, 20) != 0) return false;
    const uint32_t size = (uint32_t)rec.fileSize;
    const uint32_t rawSize = (size - kSection) / 0x200 * 0x200;
    const uint32_t virtualSize = size - kSection;
    const uint32_t imageSize = (kSection + virtualSize + 0xFFF) / 0x1000 * 0x1000;
    const uint32_t optionalSize = wide ? pe::kOptionalHeader64Size : pe::kOptionalHeader32Size;
    std::vector<uint8_t>& b = *out;
    b.assign(size, 0);

    // DOS header: the magic and the pointer to the PE header.
    b[0] = 'M', b[1] = 'Z';
    Put32(b, pe::kDosNewHeader, kPeOffset);

    // PE signature and file header.
    const uint32_t fh = kPeOffset + pe::kNtFileHeader;
    memcpy(&b[kPeOffset], "PE\0\0", 4);
    Put16(b, fh + pe::kMachine, wide ? 0x8664 : 0x014C); // AMD64 or i386
    Put16(b, fh + pe::kNumberOfSections, 1);
    Put16(b, fh + pe::kSizeOfOptionalHeader, optionalSize);
    // Relocations stripped, executable; large addresses or 32-bit words.
    Put16(b, fh + pe::kCharacteristics, wide ? 0x0023 : 0x0103);

    // The optional header. From SectionAlignment to Subsystem both forms
    // agree; the stack and heap sizes and what follows them are 8 bytes
    // wider in PE32+.
    const uint32_t oh = kPeOffset + pe::kNtOptionalHeader;
    Put16(b, oh + pe::kMagic, wide ? 0x20B : 0x10B);
    Put32(b, oh + pe::kSizeOfCode, rawSize);
    Put32(b, oh + pe::kAddressOfEntryPoint, entry);
    Put32(b, oh + pe::kBaseOfCode, kSection);
    if (wide) {
        Put64(b, oh + pe::kImageBase64, 0x140000000ull);
    } else {
        Put32(b, oh + pe::kBaseOfData, kSection);
        Put32(b, oh + pe::kImageBase, kImageBase32);
    }
    Put32(b, oh + pe::kSectionAlignment, 0x1000);
    Put32(b, oh + pe::kFileAlignment, 0x200);
    // Operating system and subsystem 5.2 (64-bit) or 4.0, which every
    // 32-bit Windows from 95 and NT 4.0 on loads.
    const uint16_t major = wide ? 5 : 4, minor = wide ? 2 : 0;
    Put16(b, oh + pe::kMajorOperatingSystemVersion, major);
    Put16(b, oh + pe::kMinorOperatingSystemVersion, minor);
    Put16(b, oh + pe::kMajorSubsystemVersion, major);
    Put16(b, oh + pe::kMinorSubsystemVersion, minor);
    Put32(b, oh + pe::kSizeOfImage, imageSize);
    Put32(b, oh + pe::kSizeOfHeaders, kHeaderSize);
    Put16(b, oh + pe::kSubsystem, 2); // Windows GUI: no console
    // Stack and heap: 1 MB reserved, 4 KB committed, in words of 8 or 4
    // bytes (the high half of a 64-bit size stays 0).
    const uint32_t stack = oh + (wide ? pe::kSizeOfStackReserve64 : pe::kSizeOfStackReserve);
    for (uint32_t i = 0; i < 4; i++)
        Put32(b, stack + i * (wide ? 8 : 4), i % 2 ? 0x1000 : 0x100000);
    Put32(b, oh + (wide ? pe::kNumberOfRvaAndSizes64 : pe::kNumberOfRvaAndSizes), 16);
    const uint32_t dd = oh + (wide ? pe::kDataDirectory64 : pe::kDataDirectory);
    const uint32_t thunk = wide ? 8 : 4;
    const uint32_t imports = dd + pe::kDirectoryImport * pe::kDirectoryEntrySize;
    Put32(b, imports, kImports + kIdt);
    Put32(b, imports + pe::kDirectorySize, 2 * pe::kImportDescriptorSize);
    const uint32_t iat = dd + pe::kDirectoryIat * pe::kDirectoryEntrySize;
    Put32(b, iat, kImports + kIat);
    Put32(b, iat + pe::kDirectorySize, 3 * thunk);
    if (wide) {
        const uint32_t reserved = dd + pe::kDirectoryReserved * pe::kDirectoryEntrySize;
        Put32(b, reserved, kCheckViewSize);         // the check's VirtualSize
        Put32(b, reserved + pe::kDirectorySize, 0); // the check's VirtualAddress
    }

    // The one section; in PE32+ bytes 4..7 of its name stay zero (see above).
    const uint32_t sh = oh + optionalSize;
    memcpy(&b[sh], ".phx", 4);
    Put32(b, sh + pe::kVirtualSize, virtualSize);
    Put32(b, sh + pe::kVirtualAddress, kSection);
    Put32(b, sh + pe::kSizeOfRawData, rawSize);
    Put32(b, sh + pe::kPointerToRawData, kSection);
    Put32(b, sh + pe::kSectionCharacteristics, 0xE0000060); // code, data, execute, read, write

    // Imports: Sleep and ExitProcess from KERNEL32.dll.
    const uint32_t im = kImports;
    Put32(b, im + kIdt + pe::kImportLookupTable, im + kIlt);
    Put32(b, im + kIdt + pe::kImportName, im + kDllName);
    Put32(b, im + kIdt + pe::kImportAddressTable, im + kIat);
    for (uint32_t table : {kIlt, kIat}) {
        Put32(b, im + table, im + kSleepName);
        Put32(b, im + table + thunk, im + kExitName);
    }
    memcpy(&b[im + kDllName], "KERNEL32.dll", 12);
    memcpy(&b[im + kSleepName + 2], "Sleep", 5);
    memcpy(&b[im + kExitName + 2], "ExitProcess", 11);

    if (wide) {
        // sub rsp,40; again: mov ecx,1000; call [rip+IAT]; jmp again
        static const uint8_t code[] = {0x48, 0x83, 0xEC, 0x28, 0xB9, 0xE8, 0x03, 0x00, 0x00,
                                       0xFF, 0x15, 0,    0,    0,    0,    0xEB, 0xF3};
        static_assert(sizeof code <= kCodeSize, "the loop fits its room");
        memcpy(&b[entry], code, sizeof code);
        Put32(b, entry + 11, (im + kIat) - (entry + 15)); // relative to the next instruction
    } else {
        // again: push 1000; call [IAT]; jmp again (Sleep pops its argument)
        static const uint8_t code[] = {0x68, 0xE8, 0x03, 0x00, 0x00, 0xFF, 0x15,
                                       0,    0,    0,    0,    0xEB, 0xF3};
        static_assert(sizeof code <= kCodeSize, "the loop fits its room");
        memcpy(&b[entry], code, sizeof code);
        Put32(b, entry + 7, kImageBase32 + im + kIat); // absolute: the image is never moved
    }

    // The two windows, where the check's view puts them (file offset == RVA).
    memcpy(&b[entry + (uint32_t)rec.offset1], rec.pattern1, 20);
    memcpy(&b[entry + (uint32_t)rec.offset2], rec.pattern2, 20);
    return true;
}

/* Rows (1-based) of the records made runnable: the first two, of different
   names, whose files are small and can hold the program (the same rows for
   both bitnesses: the layout does not depend on it). */
inline std::vector<int> ChooseRows(const VariantSignature* table) {
    std::vector<int> rows;
    const char* first = nullptr;
    for (int i = 0; table[i].name[0] && rows.size() < 2; i++) {
        std::vector<uint8_t> bytes;
        if (table[i].fileSize > 131072 || !Build(table[i], 32, &bytes)) continue;
        if (first && strcmp(first, table[i].name) == 0) continue;
        first = table[i].name;
        rows.push_back(i + 1);
    }
    return rows;
}

} // namespace runnable

#endif
