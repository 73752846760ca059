/*
** The built-in variant table as a whole, and the specimen files made from it:
** every stated fact about the table's names, kinds, sizes and offsets, and
** that each specimen is a well-formed PE32 file whose windows, as the loader
** would map them, hold the record's patterns.
*/
#include "engine/signatures.h"
#include "pe_headers.h"
#include "tools/pe_specimen.h"
#include "world.h"

#include <cstddef>
#include <map>
#include <utility>

// The records are packed: checks copy a field (int32_t(...)) rather than bind
// a reference to a misaligned one.
namespace {

const int kRows = 127;

std::string Name(const VariantSignature& rec) {
    return std::string(rec.name, strnlen(rec.name, 50));
}

std::vector<const VariantSignature*> Rows() {
    std::vector<const VariantSignature*> rows;
    for (const VariantSignature* r = kVariantTable; r->name[0]; r++)
        rows.push_back(r);
    return rows;
}

} // namespace

TEST(SignatureTable, RecordLayoutIsPacked) {
    EXPECT_EQ(sizeof(VariantSignature), 108u);
    EXPECT_EQ(offsetof(VariantSignature, offset1), 50u);
    EXPECT_EQ(offsetof(VariantSignature, pattern1), 54u);
    EXPECT_EQ(offsetof(VariantSignature, offset2), 75u);
    EXPECT_EQ(offsetof(VariantSignature, pattern2), 79u);
    EXPECT_EQ(offsetof(VariantSignature, fileSize), 100u);
    EXPECT_EQ(offsetof(VariantSignature, sizeMode), 104u);
    EXPECT_EQ(g_variantTable, kVariantTable);
}

TEST(SignatureTable, HoldsTheRecordsThenTheZeroRecord) {
    auto rows = Rows();
    ASSERT_EQ((int)rows.size(), kRows);
    const uint8_t* end = (const uint8_t*)&kVariantTable[kRows];
    for (int i = 0; i < 108; i++)
        EXPECT_EQ(end[i], 0) << "byte " << i << " of the end record";
    for (int i = 0; i < kRows; i++) {
        const VariantSignature& r = *rows[i];
        size_t len = strnlen(r.name, 50);
        EXPECT_LE(len, 49u) << "row " << i + 1;
        for (size_t k = len; k < 50; k++)
            EXPECT_EQ(r.name[k], 0) << "row " << i + 1;
        EXPECT_EQ(r.pattern1[20], 0) << "row " << i + 1;
        EXPECT_EQ(r.pattern2[20], 0) << "row " << i + 1;
        EXPECT_EQ(int32_t(r.sizeMode), 1) << "row " << i + 1;
    }
}

TEST(SignatureTable, NamesInOrderOfFirstAppearanceWithTheirCounts) {
    const std::vector<std::pair<const char*, int>> expected = {
        {"C.FraudTool", 5},  {"b.FraudTool", 1},  {"G.FraudTool", 1},  {"B.FraudTool", 1},
        {"D.Fraudtool", 1},  {"V.FraudTool", 3},  {"Aa.FraudTool", 1}, {"AS.Backdoor", 1},
        {"AU.Backdoor", 1},  {"AT.Backdoor", 1},  {"AR.Backdoor", 1},  {"Af.FraudTool", 2},
        {"Bd.FraudTool", 1}, {"Bk.FraudTool", 1}, {"Cz.FraudTool", 1}, {"Cm.FraudTool", 7},
        {"Eb.FraudTool", 2}, {"Fc.FraudTool", 1}, {"Ht.FraudTool", 1}, {"If.FraudTool", 1},
        {"Ie.FraudTool", 1}, {"Im.FraudTool", 1}, {"In.FraudTool", 1}, {"Io.FraudTool", 1},
        {"Kd.FraudTool", 1}, {"Il.FraudTool", 1}, {"Ek.FraudTool", 1}, {"hd.FraudTool", 1},
        {"Backdoor", 11},    {"A.Backdoor", 25},  {"Tt.Backdoor", 1},  {"Ggx.Backdoor", 1},
        {"Ghb.Backdoor", 1}, {"Ggu.Backdoor", 1}, {"Ggc.Backdoor", 1}, {"Gjb.Backdoor", 1},
        {"Ghr.Backdoor", 1}, {"Gik.Backdoor", 1}, {"Glb.Backdoor", 1}, {"Gks.Backdoor", 1},
        {"Glc.Backdoor", 1}, {"Gld.Backdoor", 1}, {"Gmm.Backdoor", 1}, {"Gmn.Backdoor", 1},
        {"Gmo.Backdoor", 1}, {"Gmp.Backdoor", 1}, {"Gen.Backdoor", 3}, {"Grg.Backdoor", 1},
        {"Gqv.Backdoor", 1}, {"Gwm.Backdoor", 1}, {"Gxo.Backdoor", 1}, {"Grb.Backdoor", 1},
        {"Grk.Backdoor", 1}, {"Grl.Backdoor", 1}, {"Grz.Backdoor", 1}, {"Gsj.Backdoor", 1},
        {"Gsc.Backdoor", 1}, {"Geu.Backdoor", 1}, {"Gev.Backdoor", 1}, {"Wj.Backdoor", 1},
        {"Ggp.Backdoor", 1}, {"Gfs.Backdoor", 1}, {"Ggg.Backdoor", 1}, {"Giu.Backdoor", 1},
        {"Ww.Backdoor", 1},  {"Ggo.Backdoor", 1}, {"Wx.Backdoor", 1},  {"Wi.Backdoor", 1},
        {"Ggq.Backdoor", 1}, {"Gfc.Backdoor", 1}, {"Gew.Backdoor", 2}, {"Gof.Backdoor", 1},
        {"Wn.Backdoor", 1},  {"Gnw.Backdoor", 1}, {"Goe.Backdoor", 1}, {"Gmz.Backdoor", 1},
    };
    ASSERT_EQ(expected.size(), 76u);
    std::vector<std::string> order;
    std::map<std::string, int> counts;
    int backdoor = 0, fraudTool = 0, lowerCaseTool = 0;
    for (const VariantSignature* r : Rows()) {
        std::string name = Name(*r);
        if (!counts[name]++) order.push_back(name);
        std::string kind = name.substr(name.rfind('.') + 1);
        backdoor += kind == "Backdoor";
        fraudTool += kind == "FraudTool" || kind == "Fraudtool";
        lowerCaseTool += kind == "Fraudtool";
    }
    ASSERT_EQ(order.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        std::string want = std::string("W32/Phantaxis.") + expected[i].first;
        EXPECT_EQ(order[i], want) << "name " << i + 1;
        EXPECT_EQ(counts[want], expected[i].second) << want;
    }
    EXPECT_EQ(backdoor, 89);
    EXPECT_EQ(fraudTool, 38);
    EXPECT_EQ(lowerCaseTool, 1);
}

TEST(SignatureTable, TellingRows) {
    struct Row {
        int row;
        const char* name;
        int32_t offset1, offset2, fileSize;
    };
    const Row telling[] = {
        {1, "W32/Phantaxis.C.FraudTool", -34928, -79120, 100952},
        {28, "W32/Phantaxis.If.FraudTool", -782204, -328500, 1474560},
        {45, "W32/Phantaxis.Backdoor", 20452, 20452, 10240},
        {54, "W32/Phantaxis.Ggu.Backdoor", 230, 123, 44032},
        {127, "W32/Phantaxis.A.Backdoor", 954, -552, 34304},
    };
    for (const Row& t : telling) {
        const VariantSignature& r = kVariantTable[t.row - 1];
        EXPECT_EQ(Name(r), t.name) << "row " << t.row;
        EXPECT_EQ(int32_t(r.offset1), t.offset1) << "row " << t.row;
        EXPECT_EQ(int32_t(r.offset2), t.offset2) << "row " << t.row;
        EXPECT_EQ(int32_t(r.fileSize), t.fileSize) << "row " << t.row;
        EXPECT_EQ(int32_t(r.sizeMode), 1) << "row " << t.row;
    }
    // Row 45 tests one position twice: its patterns must be the same bytes.
    EXPECT_EQ(memcmp(kVariantTable[44].pattern1, kVariantTable[44].pattern2, 21), 0);
}

TEST(SignatureTable, SizesAndOffsetsSpanTheStatedRanges) {
    int32_t minSize = INT32_MAX, maxSize = INT32_MIN, minOffset = INT32_MAX, maxOffset = INT32_MIN;
    int size44544 = 0, negative = 0;
    for (const VariantSignature* r : Rows()) {
        int32_t o1 = r->offset1, o2 = r->offset2, size = r->fileSize;
        minSize = std::min(minSize, size);
        maxSize = std::max(maxSize, size);
        minOffset = std::min({minOffset, o1, o2});
        maxOffset = std::max({maxOffset, o1, o2});
        size44544 += size == 44544;
        negative += o1 < 0 || o2 < 0;
    }
    EXPECT_EQ(minSize, 10240);
    EXPECT_EQ(maxSize, 1474560);
    EXPECT_EQ(size44544, 11);
    EXPECT_EQ(minOffset, -782204);
    EXPECT_EQ(maxOffset, 273953);
    EXPECT_EQ(negative, 32);
}

// Each specimen, read as the Windows loader would: headers, section table,
// contiguous sections, and the two windows inside the raw data of the section
// that maps them, holding the record's patterns.
TEST(SignatureTable, SpecimensAreWellFormedPe32FilesOfTheTable) {
    auto rows = Rows();
    for (int row = 1; row <= kRows; row++) {
        SCOPED_TRACE("row " + std::to_string(row));
        const VariantSignature& rec = *rows[row - 1];
        std::vector<uint8_t> f = Specimen(row);
        ASSERT_EQ(f.size(), (size_t)rec.fileSize) << "run make_specimens first";

        specimen::Layout layout;
        std::string why;
        ASSERT_TRUE(specimen::Plan(rec, &layout, &why)) << why;
        EXPECT_TRUE(f == specimen::Build(rec, layout)) << "specimen folder is stale";

        const Pe pe(f);
        ASSERT_TRUE(pe.mz);
        ASSERT_LT(pe.pointer, 0x10000u);
        ASSERT_EQ(memcmp(&f[pe.header], "PE\0\0", 4), 0);
        const uint32_t fh = pe.header + pe::kNtFileHeader, oh = pe.optional;
        EXPECT_EQ(Get16(f, fh + pe::kMachine), 0x14Cu); // i386
        EXPECT_EQ(pe.optionalSize, 224u);
        EXPECT_EQ(Get16(f, fh + pe::kCharacteristics) & 0x2002u, 0x0002u); // executable, not a DLL
        EXPECT_EQ(Get16(f, oh + pe::kMagic), 0x10Bu);                      // PE32
        EXPECT_EQ(Get32(f, oh + pe::kNumberOfRvaAndSizes), 16u);
        const uint32_t sectionAlign = Get32(f, oh + pe::kSectionAlignment);
        EXPECT_EQ(sectionAlign, 0x1000u);
        EXPECT_EQ(pe.fileAlignment, 0x200u);
        EXPECT_EQ(pe.sizeOfHeaders % pe.fileAlignment, 0u);
        ASSERT_GE(pe.sections, 1u);
        ASSERT_LE(pe.sections, 20u);
        ASSERT_LE(pe.header + 248 + pe.sections * 40, pe.sizeOfHeaders);

        uint32_t nextVa = 0, nextRaw = pe.sizeOfHeaders;
        for (const Pe::Section& s : pe.table) {
            EXPECT_EQ(s.virtualAddress % sectionAlign, 0u);
            EXPECT_EQ(s.rawPointer % pe.fileAlignment, 0u);
            EXPECT_EQ(s.rawSize % pe.fileAlignment, 0u);
            if (&s == &pe.table[0])
                EXPECT_GE(s.virtualAddress, pe.sizeOfHeaders);
            else
                EXPECT_EQ(s.virtualAddress, nextVa) << "sections follow each other";
            EXPECT_GE(s.rawPointer, nextRaw) << "raw data in order, no overlap";
            EXPECT_LE(s.rawSize, s.virtualSize);
            ASSERT_LE(s.rawSize, f.size());
            ASSERT_LE(s.rawPointer, f.size() - s.rawSize);
            nextVa =
                s.virtualAddress + (s.virtualSize + sectionAlign - 1) / sectionAlign * sectionAlign;
            nextRaw = s.rawPointer + s.rawSize;
        }
        EXPECT_EQ(Get32(f, oh + pe::kSizeOfImage), nextVa);

        // The bytes the loader maps at an RVA: inside some section's raw data.
        auto mapped = [&](uint32_t rva, uint32_t len, uint32_t* flags) -> const uint8_t* {
            for (const Pe::Section& s : pe.table) {
                const uint32_t into = rva - s.virtualAddress;
                if (rva >= s.virtualAddress && into <= s.rawSize && len <= s.rawSize - into) {
                    *flags = s.flags;
                    return &f[s.rawPointer + into];
                }
            }
            return nullptr;
        };
        uint32_t flags = 0;
        const uint8_t* code = mapped(pe.entry, 3, &flags);
        ASSERT_NE(code, nullptr) << "entry point outside the raw data";
        EXPECT_EQ(flags & 0x20000020u, 0x20000020u) << "entry point in a code section";
        EXPECT_EQ(memcmp(code, "\x33\xC0\xC3", 3), 0);
        const uint8_t* w1 = mapped(pe.entry + (uint32_t)rec.offset1, 20, &flags);
        const uint8_t* w2 = mapped(pe.entry + (uint32_t)rec.offset2, 20, &flags);
        ASSERT_NE(w1, nullptr);
        ASSERT_NE(w2, nullptr);
        EXPECT_EQ(memcmp(w1, rec.pattern1, 20), 0);
        EXPECT_EQ(memcmp(w2, rec.pattern2, 20), 0);
    }
}
