/*
** Faults injected into the simulated run-time streams look like the errors
** of a real stream. The streams' own behaviour is pinned in
** tests/conformance/.
*/
#include "world.h"

class StdioTest : public WorldTest {};

TEST_F(StdioTest, FaultsLookLikeStreamErrors) {
    simwin::WriteFile("C:\\w.ini", "one\ntwo\n");
    FILE* f = fopen("C:\\w.ini", "r");
    ASSERT_NE(f, nullptr);
    char buf[16];
    simwin::FailCall("fgets", ERROR_WRITE_FAULT, 1, 1);
    EXPECT_NE(fgets(buf, sizeof buf, f), nullptr);
    EXPECT_EQ(fgets(buf, sizeof buf, f), nullptr);
    EXPECT_TRUE(ferror(f));
    fclose(f);
    EXPECT_EQ(simwin::OpenStreamCount(), 0u);
}
