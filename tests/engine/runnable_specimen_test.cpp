/*
** The runnable specimens: 32-bit and 64-bit programs the loader accepts,
** which the file check (reading every file as PE32) detects under their
** record's name.
*/
#include "engine/file_check.h"
#include "engine/signatures.h"
#include "tools/runnable_specimen.h"
#include "pe_headers.h"
#include "world.h"

class RunnableSpecimenTest : public WorldTest {};

TEST_F(RunnableSpecimenTest, TwoRecordsAreMadeRunnableInBothBitnessesAndDetected) {
    std::vector<int> rows = runnable::ChooseRows(kVariantTable);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STRNE(kVariantTable[rows[0] - 1].name, kVariantTable[rows[1] - 1].name);
    AttachWindow();
    g_scan.action = ACTION_REPORT_ONLY;
    for (int bits : {32, 64}) {
        for (int row : rows) {
            SCOPED_TRACE(testing::Message() << bits << "-bit, row " << row);
            const VariantSignature& rec = kVariantTable[row - 1];
            std::vector<uint8_t> b;
            ASSERT_TRUE(runnable::Build(rec, bits, &b));
            ASSERT_EQ(b.size(), (size_t)rec.fileSize);

            // What the loader reads: an image of the right machine whose one
            // section is mapped one to one, importing Sleep and ExitProcess,
            // its entry inside the section.
            const Pe pe(b);
            const uint32_t fh = pe.header + pe::kNtFileHeader, oh = pe.optional;
            ASSERT_EQ(memcmp(&b[pe.header], "PE\0\0", 4), 0);
            EXPECT_EQ(Get16(b, fh + pe::kMachine), bits == 64 ? 0x8664u : 0x014Cu);
            EXPECT_EQ(Get16(b, oh + pe::kMagic), bits == 64 ? 0x20Bu : 0x10Bu);
            EXPECT_EQ(pe.optionalSize, bits == 64 ? 240u : 224u);
            const uint32_t dd = oh + (bits == 64 ? pe::kDataDirectory64 : pe::kDataDirectory);
            EXPECT_EQ(dd + 16 * pe::kDirectoryEntrySize, oh + pe.optionalSize);
            EXPECT_EQ(
                Get32(b, oh + (bits == 64 ? pe::kNumberOfRvaAndSizes64 : pe::kNumberOfRvaAndSizes)),
                16u);
            const uint32_t sec = oh + pe.optionalSize; // the real section table
            const uint32_t va = Get32(b, sec + pe::kVirtualAddress);
            EXPECT_EQ(va, Get32(b, sec + pe::kPointerToRawData));
            EXPECT_GE(pe.entry, va);
            EXPECT_LT(pe.entry, va + Get32(b, sec + pe::kVirtualSize));
            EXPECT_EQ(Get16(b, oh + pe::kSubsystem), 2u); // no console window
            const uint32_t iatEntry = dd + pe::kDirectoryIat * pe::kDirectoryEntrySize;
            if (bits == 32) {
                // Loadable by Windows 95 and NT 4.0; the call goes through
                // the import address table at its absolute address.
                EXPECT_EQ(Get16(b, oh + pe::kMajorOperatingSystemVersion), 4u);
                EXPECT_EQ(Get16(b, oh + pe::kMajorSubsystemVersion), 4u);
                EXPECT_EQ(Get32(b, pe.entry + 7),
                          Get32(b, oh + pe::kImageBase) + Get32(b, iatEntry));
            }
            const uint32_t idt = Get32(b, dd + pe::kDirectoryImport * pe::kDirectoryEntrySize);
            ASSERT_LT(idt + pe::kImportDescriptorSize, b.size());
            const uint32_t name = Get32(b, idt + pe::kImportName);
            const uint32_t ilt = Get32(b, idt + pe::kImportLookupTable);
            const uint32_t iat = Get32(b, idt + pe::kImportAddressTable);
            EXPECT_STREQ((const char*)&b[name], "KERNEL32.dll");
            const uint32_t thunk = bits / 8;
            EXPECT_EQ(Get32(b, iat), Get32(b, ilt));
            EXPECT_STREQ((const char*)&b[Get32(b, ilt) + 2], "Sleep");
            EXPECT_STREQ((const char*)&b[Get32(b, ilt + thunk) + 2], "ExitProcess");
            EXPECT_EQ(Get32(b, ilt + 2 * thunk), 0u); // the list ends

            // What the check reads: the same windows through its PE32 view.
            simwin::WriteFile("C:\\run.exe", b);
            lines_.clear();
            EXPECT_EQ(CheckFile("W32/Phantaxis.Trojan", "C:\\run.exe"), 1);
            EXPECT_STREQ(g_scan.detectionName, rec.name);
            b[pe.entry + (uint32_t)rec.offset2 + 7] ^= 0x5A; // one window spoiled
            simwin::WriteFile("C:\\run.exe", b);
            EXPECT_EQ(CheckFile("W32/Phantaxis.Trojan", "C:\\run.exe"), 0);
        }
    }
}
