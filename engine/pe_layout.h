/*
** The PE layout, named once: where the fields that the file check reads,
** and those the specimen makers and the tests write, stand in a PE file.
** Each offset counts from the start of its own structure, as the SDK's
** winnt.h lays the structure out (IMAGE_DOS_HEADER, IMAGE_NT_HEADERS32,
** IMAGE_FILE_HEADER, IMAGE_OPTIONAL_HEADER32 and, where it differs,
** IMAGE_OPTIONAL_HEADER64, IMAGE_DATA_DIRECTORY, IMAGE_SECTION_HEADER,
** IMAGE_IMPORT_DESCRIPTOR). engine/pe_layout.cpp pins every one against
** those structures in the Windows builds. All fields are little-endian.
*/
#ifndef CLEANPHANTAXIS_PE_LAYOUT_H
#define CLEANPHANTAXIS_PE_LAYOUT_H

#include <stdint.h>

namespace pe {

enum : uint32_t {
    /* IMAGE_DOS_HEADER */
    kDosLastPageBytes = 0x02,    // e_cblp
    kDosPages = 0x04,            // e_cp
    kDosHeaderParagraphs = 0x08, // e_cparhdr
    kDosMaxAlloc = 0x0C,         // e_maxalloc
    kDosStackPointer = 0x10,     // e_sp
    kDosRelocations = 0x18,      // e_lfarlc
    kDosNewHeader = 0x3C,        // e_lfanew: where IMAGE_NT_HEADERS starts
    kDosHeaderSize = 0x40,

    /* IMAGE_NT_HEADERS32: "PE\0\0", the file header, the optional header with 16
       data directories; the section table follows. */
    kNtFileHeader = 4,
    kNtOptionalHeader = 24,
    kNtHeaders32Size = 248,

    /* IMAGE_FILE_HEADER */
    kFileHeaderSize = 20,
    kMachine = 0,
    kNumberOfSections = 2,
    kTimeDateStamp = 4,
    kSizeOfOptionalHeader = 16,
    kCharacteristics = 18,

    /* IMAGE_OPTIONAL_HEADER32 */
    kMagic = 0,
    kMajorLinkerVersion = 2,
    kSizeOfCode = 4,
    kSizeOfInitializedData = 8,
    kAddressOfEntryPoint = 16,
    kBaseOfCode = 20,
    kBaseOfData = 24,
    kImageBase = 28,
    kSectionAlignment = 32,
    kFileAlignment = 36,
    kMajorOperatingSystemVersion = 40,
    kMinorOperatingSystemVersion = 42,
    kMajorSubsystemVersion = 48,
    kMinorSubsystemVersion = 50,
    kSizeOfImage = 56,
    kSizeOfHeaders = 60,
    kSubsystem = 68,
    kSizeOfStackReserve = 72,
    kSizeOfStackCommit = 76,
    kSizeOfHeapReserve = 80,
    kSizeOfHeapCommit = 84,
    kNumberOfRvaAndSizes = 92,
    kDataDirectory = 96,
    kOptionalHeader32Size = 224,

    /* IMAGE_OPTIONAL_HEADER64, where it differs: from ImageBase on, 64-bit
       fields move what follows them. */
    kImageBase64 = 24,
    kSizeOfStackReserve64 = 72,
    kSizeOfStackCommit64 = 80,
    kSizeOfHeapReserve64 = 88,
    kSizeOfHeapCommit64 = 96,
    kNumberOfRvaAndSizes64 = 108,
    kDataDirectory64 = 112,
    kOptionalHeader64Size = 240,

    /* IMAGE_DATA_DIRECTORY, and the entries of the table by their index. */
    kDirectoryEntrySize = 8,
    kDirectorySize = 4, // after VirtualAddress
    kDirectoryImport = 1,
    kDirectoryIat = 12,
    kDirectoryReserved = 15,

    /* IMAGE_SECTION_HEADER */
    kSectionHeaderSize = 40,
    kVirtualSize = 8,
    kVirtualAddress = 12,
    kSizeOfRawData = 16,
    kPointerToRawData = 20,
    kSectionCharacteristics = 36,

    /* IMAGE_IMPORT_DESCRIPTOR */
    kImportDescriptorSize = 20,
    kImportLookupTable = 0, // OriginalFirstThunk
    kImportName = 12,
    kImportAddressTable = 16, // FirstThunk
};

inline uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

} // namespace pe

#endif
