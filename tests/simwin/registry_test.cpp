/*
** The simulated registry's own model: which size the queries promise on
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

TEST_F(RegistryTest, SizeQueriesPromiseTheWideSizeOfStringsOnNt) {
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, "Str", "abc");
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, kKey, "Raw", REG_SZ, {'d', 'e', 'f'});
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, kKey, "Num", REG_DWORD, {1, 0, 0, 0});
    HKEY key = Open();
    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "str", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u); // the stored text as wide characters
    EXPECT_EQ(type, (DWORD)REG_SZ);
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    size = 2;
    EXPECT_EQ(RegQueryValueExA(key, "Str", nullptr, nullptr, (LPBYTE)buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Str", nullptr, nullptr, (LPBYTE)buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u); // what is delivered: the 8-bit text

    // Data stored without a terminator gets one where there is room, not
    // counted (advapi32/tests/registry.c test_string_termination).
    memset(buffer, '#', sizeof buffer);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Raw", nullptr, nullptr, (LPBYTE)buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(buffer, 4), std::string("def\0", 4));
    // Other types promise exactly what they hold.
    EXPECT_EQ(RegQueryValueExA(key, "Num", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    // Windows 9x keeps 8-bit text: its promise is exact.
    simwin::SetWindows98();
    EXPECT_EQ(RegQueryValueExA(key, "Str", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
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
