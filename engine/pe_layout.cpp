/*
** The names of pe_layout.h pinned against the SDK's own structures: a field
** that stands elsewhere in winnt.h stops the Windows builds. The host's model
** of Win32 declares none of these structures, so there the file is empty.
*/
#include "engine/pe_layout.h"
#include "platform/win32.h"

#include <stddef.h>

#ifdef IMAGE_NT_SIGNATURE
static_assert(offsetof(IMAGE_DOS_HEADER, e_cblp) == pe::kDosLastPageBytes, "layout");
static_assert(offsetof(IMAGE_DOS_HEADER, e_cp) == pe::kDosPages, "layout");
static_assert(offsetof(IMAGE_DOS_HEADER, e_cparhdr) == pe::kDosHeaderParagraphs, "layout");
static_assert(offsetof(IMAGE_DOS_HEADER, e_maxalloc) == pe::kDosMaxAlloc, "layout");
static_assert(offsetof(IMAGE_DOS_HEADER, e_sp) == pe::kDosStackPointer, "layout");
static_assert(offsetof(IMAGE_DOS_HEADER, e_lfarlc) == pe::kDosRelocations, "layout");
static_assert(offsetof(IMAGE_DOS_HEADER, e_lfanew) == pe::kDosNewHeader, "layout");
static_assert(sizeof(IMAGE_DOS_HEADER) == pe::kDosHeaderSize, "layout");
static_assert(offsetof(IMAGE_NT_HEADERS32, FileHeader) == pe::kNtFileHeader, "layout");
static_assert(offsetof(IMAGE_NT_HEADERS32, OptionalHeader) == pe::kNtOptionalHeader, "layout");
static_assert(sizeof(IMAGE_NT_HEADERS32) == pe::kNtHeaders32Size, "layout");
static_assert(sizeof(IMAGE_FILE_HEADER) == pe::kFileHeaderSize, "layout");
static_assert(offsetof(IMAGE_FILE_HEADER, Machine) == pe::kMachine, "layout");
static_assert(offsetof(IMAGE_FILE_HEADER, NumberOfSections) == pe::kNumberOfSections, "layout");
static_assert(offsetof(IMAGE_FILE_HEADER, TimeDateStamp) == pe::kTimeDateStamp, "layout");
static_assert(offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader) == pe::kSizeOfOptionalHeader,
              "layout");
static_assert(offsetof(IMAGE_FILE_HEADER, Characteristics) == pe::kCharacteristics, "layout");
#define PIN32(field, name)                                                                         \
    static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, field) == pe::name, "layout")
PIN32(Magic, kMagic);
PIN32(MajorLinkerVersion, kMajorLinkerVersion);
PIN32(SizeOfCode, kSizeOfCode);
PIN32(SizeOfInitializedData, kSizeOfInitializedData);
PIN32(AddressOfEntryPoint, kAddressOfEntryPoint);
PIN32(BaseOfCode, kBaseOfCode);
PIN32(BaseOfData, kBaseOfData);
PIN32(ImageBase, kImageBase);
PIN32(SectionAlignment, kSectionAlignment);
PIN32(FileAlignment, kFileAlignment);
PIN32(MajorOperatingSystemVersion, kMajorOperatingSystemVersion);
PIN32(MinorOperatingSystemVersion, kMinorOperatingSystemVersion);
PIN32(MajorSubsystemVersion, kMajorSubsystemVersion);
PIN32(MinorSubsystemVersion, kMinorSubsystemVersion);
PIN32(SizeOfImage, kSizeOfImage);
PIN32(SizeOfHeaders, kSizeOfHeaders);
PIN32(Subsystem, kSubsystem);
PIN32(SizeOfStackReserve, kSizeOfStackReserve);
PIN32(SizeOfStackCommit, kSizeOfStackCommit);
PIN32(SizeOfHeapReserve, kSizeOfHeapReserve);
PIN32(SizeOfHeapCommit, kSizeOfHeapCommit);
PIN32(NumberOfRvaAndSizes, kNumberOfRvaAndSizes);
PIN32(DataDirectory, kDataDirectory);
#undef PIN32
static_assert(sizeof(IMAGE_OPTIONAL_HEADER32) == pe::kOptionalHeader32Size, "layout");
#define PIN64(field, name)                                                                         \
    static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, field) == pe::name, "layout")
PIN64(ImageBase, kImageBase64);
PIN64(SizeOfStackReserve, kSizeOfStackReserve64);
PIN64(SizeOfStackCommit, kSizeOfStackCommit64);
PIN64(SizeOfHeapReserve, kSizeOfHeapReserve64);
PIN64(SizeOfHeapCommit, kSizeOfHeapCommit64);
PIN64(NumberOfRvaAndSizes, kNumberOfRvaAndSizes64);
PIN64(DataDirectory, kDataDirectory64);
#undef PIN64
static_assert(sizeof(IMAGE_OPTIONAL_HEADER64) == pe::kOptionalHeader64Size, "layout");
static_assert(sizeof(IMAGE_DATA_DIRECTORY) == pe::kDirectoryEntrySize, "layout");
static_assert(offsetof(IMAGE_DATA_DIRECTORY, Size) == pe::kDirectorySize, "layout");
static_assert(IMAGE_DIRECTORY_ENTRY_IMPORT == pe::kDirectoryImport, "layout");
static_assert(IMAGE_DIRECTORY_ENTRY_IAT == pe::kDirectoryIat, "layout");
static_assert(IMAGE_NUMBEROF_DIRECTORY_ENTRIES == pe::kDirectoryReserved + 1, "layout");
static_assert(sizeof(IMAGE_SECTION_HEADER) == pe::kSectionHeaderSize, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, Misc.VirtualSize) == pe::kVirtualSize, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, VirtualAddress) == pe::kVirtualAddress, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, SizeOfRawData) == pe::kSizeOfRawData, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, PointerToRawData) == pe::kPointerToRawData, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, Characteristics) == pe::kSectionCharacteristics,
              "layout");
static_assert(sizeof(IMAGE_IMPORT_DESCRIPTOR) == pe::kImportDescriptorSize, "layout");
static_assert(offsetof(IMAGE_IMPORT_DESCRIPTOR, Name) == pe::kImportName, "layout");
static_assert(offsetof(IMAGE_IMPORT_DESCRIPTOR, FirstThunk) == pe::kImportAddressTable, "layout");
#endif
