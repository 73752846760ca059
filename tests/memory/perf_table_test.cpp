/*
** Reading the process table out of performance data: the rows of a sound
** block, and blocks that are truncated or point outside themselves. Each
** block is handed over in a heap buffer of exactly its size, so that a read
** past its end is caught by the address sanitizer.
*/
#include "memory/kill_process.h"
#include "tools/pe_bytes.h"
#include "world.h"

#include <memory>

namespace {

using pebytes::Get32;
using pebytes::Put32;
using simwin::PerfInstance;

class PerfTableTest : public WorldTest {
  protected:
    /* Reads `block` from an exact copy; the rows as "name pid" strings. */
    static std::vector<std::string> Read(const std::vector<uint8_t>& block) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[block.size() ? block.size() : 1]);
        if (!block.empty()) memcpy(copy.get(), block.data(), block.size());
        PerfProcessEntry table[PERF_TABLE_ROOM];
        int rows =
            ReadPerfProcessTable(copy.get(), block.size(), simwin::kIdProcessCounterIndex, table);
        EXPECT_GE(rows, 0);
        EXPECT_LE(rows, PERF_TABLE_ROWS_MAX);
        std::vector<std::string> out;
        for (int i = 0; i < rows; i++) {
            EXPECT_LE(strlen(table[i].name), 16u);
            out.push_back(std::string(table[i].name) + " " + std::to_string(table[i].processId));
        }
        return out;
    }
    static std::vector<PerfInstance> Many(int n) {
        std::vector<PerfInstance> list;
        for (int i = 0; i < n; i++)
            list.push_back({simwin::Utf16("p" + std::to_string(i)), (DWORD)(1000 + 4 * i)});
        return list;
    }
};

const std::vector<PerfInstance> kThree = {
    {u"svchost", 1000}, {u"abcdefghijklmnop", 1004}, {u"_Total", 0}};

} // namespace

TEST_F(PerfTableTest, SoundBlocksGiveTheirRows) {
    EXPECT_EQ(
        Read(simwin::BuildProcessPerfBlock(kThree)),
        (std::vector<std::string>{"svchost 1000", "abcdefghijklmnop 1004", "_Total 4294967294"}));
    // Names: 17 characters leave the row's name empty, 260 or more cannot be
    // converted ("unknown"), other characters become "?".
    EXPECT_EQ(Read(simwin::BuildProcessPerfBlock({{u"abcdefghijklmnopq", 8},
                                                  {std::u16string(300, u'x'), 12},
                                                  {std::u16string(259, u'y'), 16},
                                                  {u"\u4e2d\u6587", 20},
                                                  {u"", 24}})),
              (std::vector<std::string>{" 8", "unknown 12", " 16", "?? 20", " 24"}));
    simwin::FailCall("WideCharToMultiByte", ERROR_INVALID_PARAMETER, 1);
    EXPECT_EQ(Read(simwin::BuildProcessPerfBlock({{u"a", 8}})),
              std::vector<std::string>{"unknown 8"});

    // More than 254 instances: the first 254.
    std::vector<std::string> rows = Read(simwin::BuildProcessPerfBlock(Many(300)));
    ASSERT_EQ(rows.size(), 254u);
    EXPECT_EQ(rows[253], "p253 2012");
    // Exactly 254, and none at all.
    EXPECT_EQ(Read(simwin::BuildProcessPerfBlock(Many(254))).size(), 254u);
    EXPECT_TRUE(Read(simwin::BuildProcessPerfBlock({})).empty());
}

TEST_F(PerfTableTest, CountsTakenFromTheBlockAreBounded) {
    simwin::PerfBlockLayout at;
    std::vector<uint8_t> three = simwin::BuildProcessPerfBlock(kThree, &at);
    const size_t numInstances = at.object + 40, numCounters = at.object + 32;

    // A negative instance count asks for 254 rows: with three instances the
    // reading runs into the block's end and nothing is kept; with 300 the
    // first 254 are read.
    std::vector<uint8_t> b = three;
    Put32(b, numInstances, 0xFFFFFFFF);
    EXPECT_TRUE(Read(b).empty());
    simwin::PerfBlockLayout many;
    b = simwin::BuildProcessPerfBlock(Many(300), &many);
    Put32(b, many.object + 40, 0x80000000);
    EXPECT_EQ(Read(b).size(), 254u);

    // No definition of the identifier counter: no identifiers, no rows; also
    // with a counter count far beyond the block. No object at all.
    const std::vector<std::pair<size_t, uint32_t>> edits[] = {
        {{at.idCounter + 4, 785}},
        {{at.idCounter + 4, 785}, {numCounters, 0xFFFFFFFF}},
        {{numCounters, 14}}, // the identifier counter is the fifteenth
        {{28, 0}},
    };
    for (const auto& edit : edits) {
        b = three;
        for (const auto& [field, value] : edit)
            Put32(b, field, value);
        EXPECT_TRUE(Read(b).empty()) << edit[0].first;
    }
    EXPECT_TRUE(Read(simwin::BuildEmptyPerfBlock()).empty());
}

TEST_F(PerfTableTest, OffsetsPointingOutsideTheBlockGiveNoRows) {
    simwin::PerfBlockLayout at;
    const std::vector<uint8_t> three = simwin::BuildProcessPerfBlock(kThree, &at);
    const uint32_t size = (uint32_t)three.size();
    struct Damage {
        const char* what;
        size_t field;
    } damages[] = {
        {"block header length", 24},
        {"object definition length", at.object + 4},
        {"object header length", at.object + 8},
        {"counter offset", at.idCounter + 36},
        {"first instance's length", at.instances[0]},
        {"second instance's name offset", at.instances[1] + 16},
        {"last instance's length", at.instances[2]},
        {"first counter block's length", at.counterBlocks[0]},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        for (uint32_t value : {size, size - 1, size - 3, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
            std::vector<uint8_t> b = three;
            Put32(b, d.field, value);
            EXPECT_TRUE(Read(b).empty()) << value;
        }
    }
    // A name without its terminator at the block's end.
    std::vector<uint8_t> b = simwin::BuildProcessPerfBlock({{u"abc", 8}}, &at);
    Put32(b, at.instances[0] + 16, (uint32_t)b.size() - 2);
    b[b.size() - 2] = 'x';
    b[b.size() - 1] = 0;
    EXPECT_TRUE(Read(b).empty());
}

TEST_F(PerfTableTest, TruncatedAndForeignBlocksGiveNoRows) {
    simwin::PerfBlockLayout at;
    const std::vector<uint8_t> three = simwin::BuildProcessPerfBlock(kThree, &at);
    // The last byte the reader needs is the last instance's identifier.
    const size_t needed = at.counterBlocks[2] + Get32(three, at.idCounter + 36) + 4;
    for (size_t cut = 0; cut < three.size(); cut++) {
        std::vector<uint8_t> b(three.begin(), three.begin() + cut);
        EXPECT_EQ(Read(b).size(), cut >= needed ? 3u : 0u) << cut;
    }
    std::vector<uint8_t> b = three;
    b[6] = 'G'; // "PERG"
    EXPECT_TRUE(Read(b).empty());
    b = three;
    memcpy(b.data(), "PERF\0\0\0\0", 8); // 8-bit text
    EXPECT_TRUE(Read(b).empty());
}

TEST_F(PerfTableTest, RandomDamageNeverReadsOutsideTheBlock) {
    simwin::PerfBlockLayout at;
    const std::vector<uint8_t> base = simwin::BuildProcessPerfBlock(Many(5), &at);
    const uint32_t extremes[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, (uint32_t)base.size()};
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 3000; round++) {
        std::vector<uint8_t> b = base;
        int changes = 1 + (int)(next() % 4);
        for (int k = 0; k < changes; k++) {
            size_t field = (next() % (b.size() / 4)) * 4;
            uint32_t value = next() % 2 ? extremes[next() % 6] : next() % (uint32_t)(b.size() * 2);
            Put32(b, field, value);
        }
        if (next() % 5 == 0) b.resize(next() % b.size());
        Read(b); // bounded rows, and no read outside the copy
    }
}
