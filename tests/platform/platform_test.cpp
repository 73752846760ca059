/*
** Platform detection: the platform code and the NT generation for each kind
** of Windows, and for a failed version query; the run-time lookup finds
** only its table's entries. The names files open by as the files they are,
** by family, version and code page.
*/
#include "platform/file_names.h"
#include "platform/platform.h"
#include "platform/registry_value.h"
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

/* The name each path opens by as the file it is: a device's name by its
   \\?\ form on NT and by none on 9x, any other by itself. Which names are
   devices differs by family and by what the ANSI code page makes a
   character (a Shift-JIS trail byte 0x5C is no backslash). */
TEST_F(PlatformTest, DeviceNamesAreReadAsEachWindowsReadsThem) {
    const WindowsVersion versions[] = {
        kWin98, kNt4, {"Win7", [] { simwin::SetVersion(VER_PLATFORM_WIN32_NT, 6, 1); }}, kWin10};
    enum : char { F = 'f', D = 'd' }; // the file itself, a device's name
    struct Row {
        const char* path;
        UINT codePage;
        char as[5]; // 98, NT 4.0, 7, 10
    } rows[] = {
        {"C:\\d\\nul.exe", 1252, {D, D, D, D}},
        {"C:\\d\\Clock$.txt", 1252, {D, D, D, D}},
        {"C:\\d\\conin$.exe", 1252, {F, D, D, D}},
        {"C:\\d\\CONOUT$", 1252, {F, D, D, D}},
        {"C:\\d\\com\xB9.exe", 1252, {F, D, D, D}},
        {"C:\\d\\LPT\xB3", 1252, {F, D, D, D}},
        {"C:\\d\\lpt0.txt", 1252, {F, D, D, D}}, // \\?\ whichever way NT reads it
        {"C:\\d\\COM0", 1252, {F, D, D, D}},
        {"C:\\d\\com00.exe", 1252, {F, F, F, F}},
        {"C:\\d\\config$.exe", 1252, {F, F, F, F}},  // a driver's: caught at its open
        {"C:\\d\\\x95\\nul.exe", 932, {F, F, F, F}}, // one character, then "nul.exe"
        {"C:\\d\\\x95\\nul.exe", 1252, {D, D, D, D}},
        {"C:\\\x83\\\\aux.exe", 932, {D, D, D, D}}, // a folder "\x83\\" holds aux.exe
    };
    for (const Row& r : rows)
        for (int v = 0; v < 4; v++) {
            SCOPED_TRACE(std::string(r.path) + " on " + versions[v].name);
            versions[v].set();
            simwin::SetAnsiCodePage(r.codePage);
            const FileName name(r.path);
            const std::string prefixed = std::string("\\\\?\\") + r.path;
            if (r.as[v] == F)
                EXPECT_STREQ(name.get(), r.path);
            else if (v == 0)
                EXPECT_EQ(name.get(), nullptr);
            else
                EXPECT_STREQ(name.get(), prefixed.c_str());
        }
}

TEST_F(PlatformTest, ARegistryStringIsReadWholeAtItsBounds) {
    const char* const kKey = "SOFTWARE\\Bounds";
    const auto Set = [&](DWORD type, const std::string& bytes) {
        simwin::RegSetValue(HKEY_LOCAL_MACHINE, kKey, "B", type, {bytes.begin(), bytes.end()});
    };
    char* data = nullptr;
    // At its bounds (Wine's registry.c, test_string_termination: a block of the
    // value's exact size gets no terminator; the reader adds one), a value of
    // `limit` bytes is refused, as is one turned to another type before the read.
    const std::string text(200, 'u'), ab("ab\0", 3);
    const struct {
        std::string data;
        DWORD limit, later; // REG_NONE: the type stays
        bool read;
    } bounds[] = {{text, 201, REG_NONE, true},
                  {text, 200, REG_NONE, false},
                  {ab, 0xFFFFFFFFu, REG_BINARY, false},
                  {ab, 0xFFFFFFFFu, REG_EXPAND_SZ, true}};
    DWORD later = REG_NONE;
    int queries = 0;
    simwin::OnCall("RegQueryValueExA", [&] {
        if (later && simwin::CallAbout() == "B" && ++queries == 2) Set(later, ab);
    });
    void* (*volatile allocate)(size_t) = malloc; // kept: the freed block is the reader's next
    for (const auto& b : bounds) {
        Set(REG_SZ, b.data);
        later = b.later, queries = 0;
        free(memset(allocate(b.data.size() + 1), 'x', b.data.size() + 1));
        DWORD type = REG_NONE;
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, "B", &data, 0, b.limit, &type),
                  b.read)
            << b.limit << " " << later;
        EXPECT_EQ(data ? std::string(data) : "", b.read ? b.data.c_str() : "");
        EXPECT_EQ(type, !b.read ? REG_NONE : later ? later : REG_SZ);
        free(data);
    }
}
