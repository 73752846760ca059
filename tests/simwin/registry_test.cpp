/*
** What the simulated registry must do the way Windows does it: value
** enumeration by index, the size query, too small buffers, stored bytes
** returned as they are, and deletion.
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

TEST_F(RegistryTest, EnumerationFollowsCreationOrderAndShiftsAfterADelete) {
    for (const char* name : {"One", "Two", "Three"})
        simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, name, "x");
    HKEY key = Open();
    DWORD values = 99;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 3u);

    char name[16];
    DWORD chars = sizeof name;
    ASSERT_EQ(RegEnumValueA(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Two");
    EXPECT_EQ(chars, 3u); // without the terminator

    // Deleted through another handle: the later values move down one index.
    HKEY writer = Open(KEY_ALL_ACCESS);
    EXPECT_EQ(RegDeleteValueA(writer, "ONE"), ERROR_SUCCESS); // names ignore case
    EXPECT_EQ(RegDeleteValueA(writer, "One"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(writer), ERROR_SUCCESS);
    chars = sizeof name;
    ASSERT_EQ(RegEnumValueA(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Three");
    chars = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 2, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(RegistryTest, ValueNamesNeedRoomForTheirTerminator) {
    std::string longest(16383, 'n'); // the registry's longest value name
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, "Five5", "x");
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, longest, "x");
    HKEY key = Open();
    char small[5];
    DWORD chars = sizeof small;
    EXPECT_EQ(RegEnumValueA(key, 0, small, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    std::vector<char> big(16384);
    chars = 16383;
    EXPECT_EQ(RegEnumValueA(key, 1, big.data(), &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    chars = 16384;
    EXPECT_EQ(RegEnumValueA(key, 1, big.data(), &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(chars, 16383u);
    EXPECT_EQ(std::string(big.data()), longest);
    RegCloseKey(key);
}

TEST_F(RegistryTest, QueriesReportTheSizeAndReturnTheStoredBytes) {
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, "Str", "abc");
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, kKey, "Raw", REG_SZ, {'d', 'e', 'f'});
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, kKey, "Num", REG_DWORD, {1, 0, 0, 0});
    HKEY key = Open();
    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "str", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u); // with the stored terminator
    EXPECT_EQ(type, (DWORD)REG_SZ);

    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    size = 2;
    EXPECT_EQ(RegQueryValueExA(key, "Str", nullptr, nullptr, (LPBYTE)buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u); // what is needed

    // Data stored without a terminator comes back without one.
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Raw", nullptr, nullptr, (LPBYTE)buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(buffer, 4), "def#");
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Num", nullptr, &type, (LPBYTE)buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(RegQueryValueExA(key, "None", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, kKey, "Empty", REG_SZ, {});
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Empty", nullptr, nullptr, (LPBYTE)buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
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

TEST_F(RegistryTest, EachOperationNeedsItsAccessRight) {
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kKey, "V", "x");
    simwin::RegCreatePath(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Sub");
    char name[8];
    DWORD chars = sizeof name, size = 0, values = 0;
    HKEY reader = Open(KEY_READ);
    EXPECT_EQ(RegDeleteValueA(reader, "V"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(reader, "W", 0, REG_SZ, (const BYTE*)"y", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegEnumKeyExA(reader, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(reader);

    HKEY writer = Open(KEY_SET_VALUE);
    chars = sizeof name;
    EXPECT_EQ(RegEnumValueA(writer, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueExA(writer, "V", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryInfoKeyA(writer, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    chars = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(writer, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(writer, "V"), ERROR_SUCCESS);
    RegCloseKey(writer);
    EXPECT_FALSE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, kKey, "V"));
}
