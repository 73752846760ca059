/*
** The runnable specimens: 32-bit and 64-bit programs the loader accepts,
** which the file check (reading every file as PE32) detects under their
** record's name.
*/
#include "engine/file_check.h"
#include "engine/signatures.h"
#include "tools/runnable_specimen.h"
#include "world.h"

class RunnableSpecimenTest : public WorldTest {};

static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    memcpy(&v, &b[at], 4);
    return v;
}
static uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return (uint16_t)(b[at] | b[at + 1] << 8);
}

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
            const uint32_t pe = U32(b, 0x3C), oh = pe + 24;
            ASSERT_EQ(memcmp(&b[pe], "PE\0\0", 4), 0);
            EXPECT_EQ(U16(b, pe + 4), bits == 64 ? 0x8664 : 0x014C);
            EXPECT_EQ(U16(b, oh), bits == 64 ? 0x20B : 0x10B);
            const uint32_t optionalSize = U16(b, pe + 20);
            EXPECT_EQ(optionalSize, bits == 64 ? 240u : 224u);
            const uint32_t dd = oh + optionalSize - 16 * 8; // the data directories
            EXPECT_EQ(U32(b, oh + (bits == 64 ? 108 : 92)), 16u);
            const uint32_t sec = oh + optionalSize;
            EXPECT_EQ(U32(b, sec + 12), U32(b, sec + 20)); // VirtualAddress == PointerToRawData
            const uint32_t entry = U32(b, oh + 16);
            EXPECT_GE(entry, U32(b, sec + 12));
            EXPECT_LT(entry, U32(b, sec + 12) + U32(b, sec + 8));
            EXPECT_EQ(U16(b, oh + 68), 2); // no console window
            if (bits == 32) {
                // Loadable by Windows 95 and NT 4.0; the call goes through
                // the import address table at its absolute address.
                EXPECT_EQ(U16(b, oh + 40), 4);
                EXPECT_EQ(U16(b, oh + 48), 4);
                EXPECT_EQ(U32(b, entry + 7), U32(b, oh + 28) + U32(b, dd + 12 * 8));
            }
            const uint32_t idt = U32(b, dd + 1 * 8);
            ASSERT_LT(idt + 20, b.size());
            const uint32_t name = U32(b, idt + 12), ilt = U32(b, idt), iat = U32(b, idt + 16);
            EXPECT_STREQ((const char*)&b[name], "KERNEL32.dll");
            const uint32_t thunk = bits / 8;
            EXPECT_EQ(U32(b, iat), U32(b, ilt));
            EXPECT_STREQ((const char*)&b[U32(b, ilt) + 2], "Sleep");
            EXPECT_STREQ((const char*)&b[U32(b, ilt + thunk) + 2], "ExitProcess");
            EXPECT_EQ(U32(b, ilt + 2 * thunk), 0u); // the list ends

            // What the check reads: the same windows through its PE32 view.
            simwin::WriteFile("C:\\run.exe", b);
            lines_.clear();
            EXPECT_EQ(CheckFile("W32/Phantaxis.Trojan", "C:\\run.exe"), 1);
            EXPECT_STREQ(g_scan.detectionName, rec.name);
            b[entry + (uint32_t)rec.offset2 + 7] ^= 0x5A; // one window spoiled
            simwin::WriteFile("C:\\run.exe", b);
            EXPECT_EQ(CheckFile("W32/Phantaxis.Trojan", "C:\\run.exe"), 0);
        }
    }
}
