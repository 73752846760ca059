/*
** The runnable specimens: 64-bit programs the loader accepts, which the file
** check (reading them as PE32) still detects under their record's name.
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

TEST_F(RunnableSpecimenTest, TwoRecordsAreMadeRunnableAndDetected) {
    std::vector<int> rows = runnable::ChooseRows(kVariantTable);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STRNE(kVariantTable[rows[0] - 1].name, kVariantTable[rows[1] - 1].name);
    AttachWindow();
    g_scan.action = ACTION_REPORT_ONLY;
    for (int row : rows) {
        const VariantSignature& rec = kVariantTable[row - 1];
        std::vector<uint8_t> b;
        ASSERT_TRUE(runnable::Build(rec, &b));
        ASSERT_EQ(b.size(), (size_t)rec.fileSize);

        // What the loader reads: a PE32+ image whose one section is mapped
        // one to one, importing Sleep and ExitProcess, entry inside the section.
        uint32_t pe = U32(b, 0x3C);
        ASSERT_EQ(memcmp(&b[pe], "PE\0\0", 4), 0);
        EXPECT_EQ(b[pe + 4] | b[pe + 5] << 8, 0x8664);
        EXPECT_EQ(b[pe + 24] | b[pe + 25] << 8, 0x20B);
        uint32_t sec = pe + 24 + 240;
        EXPECT_EQ(U32(b, sec + 12), U32(b, sec + 20)); // VirtualAddress == PointerToRawData
        uint32_t entry = U32(b, pe + 24 + 16);
        EXPECT_GE(entry, U32(b, sec + 12));
        EXPECT_LT(entry, U32(b, sec + 12) + U32(b, sec + 8));
        std::string blob(b.begin(), b.begin() + 0x1100);
        EXPECT_NE(blob.find("Sleep"), std::string::npos);
        EXPECT_NE(blob.find("ExitProcess"), std::string::npos);
        EXPECT_NE(blob.find("KERNEL32.dll"), std::string::npos);

        // What the check reads: the same windows through its 32-bit view.
        simwin::WriteFile("C:\\run.exe", b);
        lines_.clear();
        EXPECT_EQ(CheckFile("W32/Phantaxis.Trojan", "C:\\run.exe"), 1) << row;
        EXPECT_STREQ(g_scan.detectionName, rec.name);
        b[entry + (uint32_t)rec.offset2 + 7] ^= 0x5A; // one window spoiled
        simwin::WriteFile("C:\\run.exe", b);
        EXPECT_EQ(CheckFile("W32/Phantaxis.Trojan", "C:\\run.exe"), 0);
    }
}
