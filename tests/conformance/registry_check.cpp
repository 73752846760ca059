/*
** The registry, as the autostart cleanup, the service keys, the product
** test of the window and the termination by performance data rely on it.
*/
#include "check.h"
#include "stage.h"

#include <cstring>
#include <set>
#include <vector>

using stage::kKey;

namespace {

HKEY Open(const std::string& path, REGSAM sam) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, sam, &key);
    CHECK_EQ(rc, (LONG)ERROR_SUCCESS);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

/* Creates `path` with the string values given (name, data) in turn. */
void Fill(const std::string& path, std::vector<std::pair<const char*, const char*>> values,
          DWORD type = REG_SZ) {
    HKEY key;
    CHECK_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr),
             (LONG)ERROR_SUCCESS);
    for (auto& v : values)
        CHECK_EQ(RegSetValueExA(key, v.first, 0, type, (const BYTE*)v.second,
                                (DWORD)strlen(v.second) + 1),
                 (LONG)ERROR_SUCCESS);
    RegCloseKey(key);
}

std::string NameAt(HKEY key, DWORD index, LONG* rc) {
    char name[64];
    DWORD chars = sizeof name;
    *rc = RegEnumValueA(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    return *rc == ERROR_SUCCESS ? std::string(name) : "";
}

} // namespace

CASE(EnumerationShiftsDownAfterADeleteAndCountsAreKept) {
    Fill(kKey, {{"Alpha", "1"}, {"Beta", "2"}, {"Gamma", "3"}});
    Fill(std::string(kKey) + "\\Sub", {});
    HKEY key = Open(kKey, KEY_READ);
    DWORD values = 99, subkeys = 99, longest = 0;
    CHECK_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              &longest, nullptr, nullptr, nullptr),
             (LONG)ERROR_SUCCESS);
    CHECK_EQ(values, 3u);
    CHECK_EQ(subkeys, 1u);
    CHECK_EQ(longest, 5u); // characters, without the terminator
    LONG rc;
    std::set<std::string> names;
    for (DWORD i = 0; i < 3; i++)
        names.insert(NameAt(key, i, &rc));
    CHECK_EQ(names.size(), 3u);
    CHECK(names.count("Beta") == 1);
    // Deleted through another handle: the later values move down one index.
    std::string second = NameAt(key, 1, &rc), third = NameAt(key, 2, &rc);
    HKEY writer = Open(kKey, KEY_ALL_ACCESS);
    CHECK_EQ(RegDeleteValueA(writer, second.c_str()), (LONG)ERROR_SUCCESS);
    CHECK_EQ(RegDeleteValueA(writer, second.c_str()), (LONG)ERROR_FILE_NOT_FOUND);
    RegCloseKey(writer);
    CHECK_EQ(NameAt(key, 1, &rc), third);
    NameAt(key, 2, &rc);
    CHECK_EQ(rc, (LONG)ERROR_NO_MORE_ITEMS);
    // A name buffer without room for the terminator is too small.
    char small[5];
    DWORD chars = sizeof small;
    CHECK_EQ(RegEnumValueA(key, 0, small, &chars, nullptr, nullptr, nullptr, nullptr),
             (LONG)ERROR_MORE_DATA);
    CHECK_EQ(RegCloseKey(key), (LONG)ERROR_SUCCESS);
}

/* Chinese, Japanese and Korean editions of Windows 10 may report more than a
   string's size when the room for its name is too small (test_enum_value in
   Wine's dlls/advapi32/tests/registry.c, "overflow both", "overflow name",
   "overflow empty name": broken(data_count > 7)); the name and its count
   stay as they were, and a room for both answers the exact size. */
MODEL(AnEnumerationOverflowMayReportTheWideSize, stage::kDoubleByteEdition) {
    Fill(kKey, {{"Test", "foobar"}});
    HKEY key = Open(kKey, KEY_READ);
    for (DWORD room : {0u, 2u, 3u}) {
        char name[8] = "xxxxxxx";
        BYTE data[16];
        DWORD chars = room, size = sizeof data;
        CHECK_EQ(RegEnumValueA(key, 0, name, &chars, nullptr, nullptr, data, &size),
                 (LONG)ERROR_MORE_DATA);
        CHECK_EQ(chars, room);
        CHECK(size > 7);
        CHECK_EQ(std::string(name), std::string("xxxxxxx"));
    }
    char name[8];
    BYTE data[16];
    DWORD chars = sizeof name, size = sizeof data;
    CHECK_EQ(RegEnumValueA(key, 0, name, &chars, nullptr, nullptr, data, &size),
             (LONG)ERROR_SUCCESS);
    CHECK_EQ(size, 7u);
    RegCloseKey(key);
}

CASE(StringsComeBackAsStoredWithTheirSize) {
    const char* text = "%SystemRoot%\\system32\\run.exe";
    const DWORD size = (DWORD)strlen(text) + 1;
    Fill(kKey, {{"Cmd", text}}, REG_EXPAND_SZ);
    HKEY key = Open(kKey, KEY_READ);
    DWORD type = 0, needed = 0;
    CHECK_EQ(RegQueryValueExA(key, "cmd", nullptr, &type, nullptr, &needed), (LONG)ERROR_SUCCESS);
    CHECK_EQ(type, (DWORD)REG_EXPAND_SZ);
    // The size query may promise more than the 8-bit text takes (NT may
    // report the size of the stored wide text), never less.
    CHECK(needed >= size);
    std::vector<char> buffer(needed + 1, '#');
    DWORD got = needed;
    CHECK_EQ(RegQueryValueExA(key, "Cmd", nullptr, nullptr, (LPBYTE)buffer.data(), &got),
             (LONG)ERROR_SUCCESS);
    CHECK_EQ(got, size);
    CHECK_EQ(buffer.data(), text); // not expanded
    // Too small a buffer: ERROR_MORE_DATA and again at least the size needed.
    got = 4;
    CHECK_EQ(RegQueryValueExA(key, "Cmd", nullptr, nullptr, (LPBYTE)buffer.data(), &got),
             (LONG)ERROR_MORE_DATA);
    CHECK(got >= size);
    got = 0;
    CHECK_EQ(RegQueryValueExA(key, "None", nullptr, nullptr, nullptr, &got),
             (LONG)ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

CASE(ReadOnlyHandlesCannotDeleteOrWrite) {
    Fill(kKey, {{"V", "x"}});
    Fill(std::string(kKey) + "\\Sub", {});
    HKEY reader = Open(kKey, KEY_READ);
    CHECK_EQ(RegDeleteValueA(reader, "V"), (LONG)ERROR_ACCESS_DENIED);
    CHECK_EQ(RegSetValueExA(reader, "W", 0, REG_SZ, (const BYTE*)"y", 2),
             (LONG)ERROR_ACCESS_DENIED);
    // A subkey goes whatever rights the handle of its parent carries.
    CHECK_EQ(RegDeleteKeyA(reader, "Sub"), (LONG)ERROR_SUCCESS);
    RegCloseKey(reader);
    // A handle that may only write values cannot read them.
    HKEY writer = Open(kKey, KEY_SET_VALUE);
    DWORD size = 0;
    CHECK_EQ(RegQueryValueExA(writer, "V", nullptr, nullptr, nullptr, &size),
             (LONG)ERROR_ACCESS_DENIED);
    CHECK_EQ(RegDeleteValueA(writer, "V"), (LONG)ERROR_SUCCESS);
    RegCloseKey(writer);
}

CASE(KeysWithSubkeysAreNotDeleted) {
    std::string sub = std::string(kKey) + "\\Svc";
    Fill(sub + "\\Enum", {});
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, sub.c_str()), (LONG)ERROR_ACCESS_DENIED);
    HKEY key = Open(sub, KEY_READ);
    RegCloseKey(key);
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, (sub + "\\enum").c_str()), (LONG)ERROR_SUCCESS);
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, sub.c_str()), (LONG)ERROR_SUCCESS);
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, sub.c_str()), (LONG)ERROR_FILE_NOT_FOUND);
}

/* HKLM\SYSTEM\CurrentControlSet is the control set SYSTEM\Select's Current
   names: a key made through the one is the key of the other. Wine has the
   Select key (Current 1) but no ControlSetNNN: its CurrentControlSet is a
   key of its own. */
CASE(CurrentControlSetIsTheSelectedSet) {
    HKEY select = Open("SYSTEM\\Select", KEY_READ);
    DWORD current = 0, type = 0, size = sizeof current;
    CHECK_EQ(RegQueryValueExA(select, "Current", nullptr, &type, (LPBYTE)&current, &size),
             (LONG)ERROR_SUCCESS);
    RegCloseKey(select);
    CHECK_EQ(type, (DWORD)REG_DWORD);
    CHECK(current >= 1 && current <= 999);
    const std::string probe = "SYSTEM\\CurrentControlSet\\Services\\CleanPhantaxis Conformance";
    Fill(probe, {{"ImagePath", "probe.exe"}}, REG_EXPAND_SZ);
    char set[96];
    snprintf(set, sizeof set, "SYSTEM\\ControlSet%03lu\\Services\\CleanPhantaxis Conformance",
             (unsigned long)current);
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, set, 0, KEY_READ, &key);
    if (stage::UnderWine()) {
        CHECK_EQ(rc, (LONG)ERROR_FILE_NOT_FOUND);
        CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, probe.c_str()), (LONG)ERROR_SUCCESS);
        return;
    }
    CHECK_EQ(rc, (LONG)ERROR_SUCCESS);
    char text[16] = "";
    DWORD got = sizeof text;
    CHECK_EQ(RegQueryValueExA(key, "ImagePath", nullptr, nullptr, (LPBYTE)text, &got),
             (LONG)ERROR_SUCCESS);
    CHECK_EQ(text, "probe.exe");
    RegCloseKey(key);
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, set), (LONG)ERROR_SUCCESS);
    CHECK_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, probe.c_str(), 0, KEY_READ, &key),
             (LONG)ERROR_FILE_NOT_FOUND);
}

/* Windows 95, 98 and ME: RegDeleteKey deletes a key together with all its
   subkeys (documented for RegDeleteKey; NT refuses such a key). */
MODEL(KeysGoWithTheirSubkeysOnWindows9x, stage::kWindows98) {
    std::string sub = std::string(kKey) + "\\Svc";
    Fill(sub + "\\Enum", {});
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, sub.c_str()), (LONG)ERROR_SUCCESS);
    HKEY key;
    CHECK_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (sub + "\\Enum").c_str(), 0, KEY_READ, &key),
             (LONG)ERROR_FILE_NOT_FOUND);
}

/* NT performance data: with too small a buffer the query answers
   ERROR_MORE_DATA and the size it leaves is undefined (documented for
   RegQueryValueEx with HKEY_PERFORMANCE_DATA: the data may change between
   calls); a large enough buffer gets the whole block. Wine serves no process
   object. */
MODEL(PerformanceDataNeedsTheCallerToGrow, stage::kPerformanceData) {
    std::vector<BYTE> buffer(64);
    DWORD size = (DWORD)buffer.size();
    CHECK_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, buffer.data(), &size),
             (LONG)ERROR_MORE_DATA);
    buffer.resize(1 << 20);
    size = (DWORD)buffer.size();
    CHECK_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, buffer.data(), &size),
             (LONG)ERROR_SUCCESS);
    CHECK(size > 4 && memcmp(buffer.data(), "P\0E\0R\0F\0", 8) == 0);
    CHECK_EQ(RegCloseKey(HKEY_PERFORMANCE_DATA), (LONG)ERROR_SUCCESS);
}
