/*
** Platform detection: the platform code and the NT generation for each kind
** of Windows, and for a failed version query; the run-time lookup
** finds only its table's entries.
*/
#include "platform/platform.h"
#include "platform/resolve.h"
#include "world.h"

class PlatformTest : public WorldTest {};

TEST_F(PlatformTest, VersionTableGivesBothCodes) {
    struct Row {
        const char* what;
        DWORD platformId, major, minor;
        int32_t platform, generation;
    } rows[] = {
        {"Windows 98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, PLATFORM_WIN9X, NTGEN_NONE},
        {"NT 3.51", VER_PLATFORM_WIN32_NT, 3, 51, PLATFORM_NT, NTGEN_4},
        {"NT 4.0", VER_PLATFORM_WIN32_NT, 4, 0, PLATFORM_NT, NTGEN_4},
        {"2000", VER_PLATFORM_WIN32_NT, 5, 0, PLATFORM_NT, NTGEN_5},
        {"XP", VER_PLATFORM_WIN32_NT, 5, 1, PLATFORM_NT, NTGEN_5},
        {"Vista", VER_PLATFORM_WIN32_NT, 6, 0, PLATFORM_NT, NTGEN_NONE},
        {"10", VER_PLATFORM_WIN32_NT, 10, 0, PLATFORM_NT, NTGEN_NONE},
        {"Win32s", VER_PLATFORM_WIN32s, 3, 10, PLATFORM_OTHER, NTGEN_NONE},
        {"unknown id", 7, 5, 0, PLATFORM_OTHER, NTGEN_NONE},
    };
    for (const Row& r : rows) {
        simwin::SetVersion(r.platformId, r.major, r.minor);
        EXPECT_EQ(GetPlatform(), r.platform) << r.what;
        EXPECT_EQ(GetNtGeneration(), r.generation) << r.what;
    }
    // The numbers callers compare against.
    EXPECT_EQ(PLATFORM_WIN9X, 4);
    EXPECT_EQ(PLATFORM_NT, 5);
    EXPECT_EQ(NTGEN_4, 5);
    EXPECT_EQ(NTGEN_5, 6);
}

TEST_F(PlatformTest, FailedQueryGivesZeroAndEachCallAsksAgain) {
    simwin::SetWindowsXp();
    simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER, 2);
    EXPECT_EQ(GetPlatform(), PLATFORM_NONE);
    EXPECT_EQ(GetNtGeneration(), NTGEN_NONE);
    EXPECT_EQ(GetPlatform(), PLATFORM_NT);
    EXPECT_EQ(GetNtGeneration(), NTGEN_5);
    EXPECT_EQ(simwin::CallCount("GetVersionExA"), 4);
}

// An entry of somebody's own making (a specialization with a public
// constructor compiles): it finds nothing, since only the table's own entries
// are named.
template <> class Listed<SIZE_T(WINAPI*)(HANDLE, LPCVOID, SIZE_T)> {
  public:
    Listed() {}
};

TEST_F(PlatformTest, OnlyTheTablesOwnEntriesFindFunctions) {
    simwin::SetWindowsXp();
    HMODULE kernel = LoadLibraryA("Kernel32.dll");
    EXPECT_NE(nullptr, Resolve(kernel, Resolvable::VirtualQueryEx));
    const Listed<SIZE_T(WINAPI*)(HANDLE, LPCVOID, SIZE_T)> forged;
    EXPECT_EQ(nullptr, Resolve(kernel, forged));
    // A system library is a file name alone.
    EXPECT_NE(nullptr, LoadSystemLibrary("psapi.dll"));
    for (const char* name : {"..\\psapi.dll", "C:\\WINDOWS\\system32\\psapi.dll", "C:psapi.dll"})
        EXPECT_EQ(nullptr, LoadSystemLibrary(name)) << name;
}
