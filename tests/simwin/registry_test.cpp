/*
** The simulated registry's own model: the sizes the queries promise on
** each family, stored bytes returned as they are, and keys a test protects.
** What it shares with every Win32 is pinned in tests/conformance/.
*/
#include "world.h"

namespace {

const char* const kKey = "Software\\Test";

HKEY Open(REGSAM sam = KEY_READ) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, sam, &key), ERROR_SUCCESS);
    return key;
}

} // namespace

class RegistryTest : public WorldTest {};

TEST_F(RegistryTest, SizeQueriesPromiseTheBytesTheyDeliver) {
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, "Str", "abc");
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, kKey, "Raw", REG_SZ, {'d', 'e', 'f'});
    HKEY key = Open();
    for (bool nt : {true, false}) {
        if (!nt) simwin::SetWindows98();
        DWORD size = 0, type = 0;
        EXPECT_EQ(RegQueryValueExA(key, "str", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 4u); // the 8-bit text with its terminator, on both families
        EXPECT_EQ(type, (DWORD)REG_SZ);
        char buffer[8];
        memset(buffer, '#', sizeof buffer);
        size = 2;
        EXPECT_EQ(RegQueryValueExA(key, "Str", nullptr, nullptr, (LPBYTE)buffer, &size),
                  ERROR_MORE_DATA);
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(buffer[0], '#');
        // Data stored without a terminator is promised as stored; NT ends it
        // with one where there is room, not counted.
        EXPECT_EQ(RegQueryValueExA(key, "Raw", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 3u);
        size = sizeof buffer;
        EXPECT_EQ(RegQueryValueExA(key, "Raw", nullptr, nullptr, (LPBYTE)buffer, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 3u);
        EXPECT_EQ(buffer[3], nt ? '\0' : '#');
    }
    RegCloseKey(key);
}

TEST_F(RegistryTest, OpeningMissingOrWriteProtectedKeys) {
    HKEY key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, "V", "x");
    simwin::RegDenyWrite(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_ACCESS_DENIED);
    key = Open(KEY_READ);
    EXPECT_EQ(RegDeleteValueA(key, "V"), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    EXPECT_TRUE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, kKey, "V"));
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}
