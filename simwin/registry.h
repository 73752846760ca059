/*
** simwin: the registry. HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER hold trees
** of keys; values keep their order of creation (the order RegEnumValueA
** gives) and any type and bytes, NUL-terminated or not. HKEY_PERFORMANCE_DATA
** answers queries through a provider the test (or the process area) installs.
*/
#ifndef SIMWIN_REGISTRY_H
#define SIMWIN_REGISTRY_H

#include "simwin/base.h"
#include <functional>
#include <string>
#include <vector>

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003)
#define HKEY_PERFORMANCE_DATA ((HKEY)(uintptr_t)0x80000004)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                     void* security, PHKEY result, LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD reserved,
                   LPSTR cls, LPDWORD classChars, FILETIME* lastWrite);
LONG RegQueryInfoKeyA(HKEY key, LPSTR cls, LPDWORD classChars, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                      LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptor,
                      FILETIME* lastWrite);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);

namespace simwin {

/* Test helpers; `path` is relative to `root`, keys are made as needed. */
void RegSetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const std::vector<uint8_t>& data);
void RegSetString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value); // REG_SZ with its terminator
void RegCreatePath(HKEY root, const std::string& path);
bool RegKeyExists(HKEY root, const std::string& path);
bool RegValueExists(HKEY root, const std::string& path, const std::string& name);
std::vector<std::string> RegValueNames(HKEY root, const std::string& path);
std::vector<uint8_t> RegValueData(HKEY root, const std::string& path, const std::string& name);
/* Keys whose opening for writing (any right beyond KEY_READ) or deletion is refused. */
void RegDenyWrite(HKEY root, const std::string& path);
/* The subkey argument of every RegDeleteKeyA call, as written, in order
   (key names ignore case, so this is how a test sees the exact spelling). */
const std::vector<std::string>& RegDeleteKeyCalls();

/* Every RegOpenKeyExA call as it was asked (the subkey as written and the
   access asked for), in order, refused ones included. */
struct RegOpenCall {
    std::string subKey;
    REGSAM access;
};
const std::vector<RegOpenCall>& RegOpenKeyCalls();

/* HKEY_PERFORMANCE_DATA: RegQueryValueExA(HKEY_PERFORMANCE_DATA, name, ...)
   calls the provider for the whole block; a buffer too small gets
   ERROR_MORE_DATA with the size argument left as simwin::SetPerfSizeOnMoreData
   says (by default as it was). */
void SetPerformanceData(std::function<std::vector<uint8_t>(const std::string& name)> provider);

/* An NT edition for a double-byte language (Chinese, Japanese, Korean
   Windows 10): RegEnumValueA with too small a room for the name reports a
   string's wide size. Off (the exact size) by default and after Reset. */
void SetDoubleByteEdition(bool on);

} // namespace simwin

#endif
