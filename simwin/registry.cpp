/*
** simwin: registry keys and values.
**
** As on Windows NT: key and value names ignore letter case; RegEnumValueA
** gives values in creation order, so deleting one moves every later index
** down by one; RegDeleteKeyA refuses a key that still has subkeys and, given
** "", deletes the key it is handed; a handle to a deleted key answers
** ERROR_KEY_DELETED; sizes are in bytes, name lengths in characters, and a
** too small buffer gets ERROR_MORE_DATA with the size the data needs. Each
** operation on an opened key needs the access right Windows asks for
** (reading values KEY_QUERY_VALUE, changing them KEY_SET_VALUE, listing
** subkeys KEY_ENUMERATE_SUB_KEYS); the predefined root keys allow everything.
*/
#include "simwin/registry.h"
#include "simwin/perfdata.h"
#include "simwin/crt.h"
#include "simwin/system.h"
#include "simwin/wow64.h"

#include <map>

namespace {

struct Value {
    std::string name;
    DWORD type;
    std::vector<uint8_t> data;
};

struct Key {
    std::string name;
    std::vector<std::shared_ptr<Key>> subkeys;
    std::vector<Value> values;
    Key* parent = nullptr;
    bool deleted = false;
    bool denyWrite = false;
};

struct KeyHandle : simwin::Object {
    std::shared_ptr<Key> key;
    REGSAM sam;
};

std::map<uintptr_t, std::shared_ptr<Key>> roots;
std::function<std::vector<uint8_t>(const std::string&)> perfProvider;
std::vector<std::string> deleteKeyCalls;
std::vector<simwin::RegOpenCall> openCalls;
bool doubleByte = false;

simwin::ResetHook resetRegistry([] {
    roots.clear();
    perfProvider = nullptr;
    deleteKeyCalls.clear();
    openCalls.clear();
    doubleByte = false;
    // Every NT boots from a control set that SYSTEM\Select names.
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "Current", REG_DWORD, {1, 0, 0, 0});
    // The machine's environment names windir, the Windows folder, after
    // SystemRoot, which the system sets itself: the Registry Reference of
    // Windows 2000 records the entry "windir" of Session Manager\Environment
    // as REG_EXPAND_SZ "%SystemRoot%" (the other entries are a test's).
    const char windir[] = "%SystemRoot%";
    simwin::RegSetValue(
        HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
        "windir", REG_EXPAND_SZ, std::vector<uint8_t>(windir, windir + sizeof windir));
});

bool Same(const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

std::shared_ptr<Key> Root(HKEY h) {
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v < 0x80000000u || v > 0x80000003u) return nullptr;
    auto& r = roots[v];
    if (!r) r = std::make_shared<Key>();
    return r;
}

std::shared_ptr<Key> FromHandle(HKEY h) {
    if (auto r = Root(h)) return r;
    auto kh = simwin::HandleAs<KeyHandle>(reinterpret_cast<HANDLE>(h));
    return kh ? kh->key : nullptr;
}

std::shared_ptr<Key> Child(const std::shared_ptr<Key>& k, const std::string& name) {
    for (auto& s : k->subkeys)
        if (Same(s->name, name)) return s;
    return nullptr;
}

Value* FindValue(Key& k, const char* name) {
    std::string n = name ? name : "";
    for (auto& v : k.values)
        if (Same(v.name, n)) return &v;
    return nullptr;
}

/* HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet is no key of its own but the
   control set Windows booted from, the ControlSetNNN that the REG_DWORD
   Current of SYSTEM\Select names (Select also names the last-known good
   set that NotifyBootConfigStatus saves, learn.microsoft.com/windows/win32/
   api/winsvc/nf-winsvc-notifybootconfigstatus); the conformance check
   CurrentControlSetIsTheSelectedSet pins it, and that Wine, which has the
   Select key, keeps CurrentControlSet as a key of its own instead. A world starts with
   Current 1; without a Select key (a test took it away), ControlSet001. `k` is the key a walk
   stands on, `part` the name it takes next. */
std::string Linked(const std::shared_ptr<Key>& k, const std::string& part) {
    auto machine = roots.find(reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE));
    if (machine == roots.end() || k->parent != machine->second.get() || !Same(k->name, "SYSTEM") ||
        !Same(part, "CurrentControlSet"))
        return part;
    unsigned current = 1;
    auto select = Child(k, "Select");
    Value* v = select ? FindValue(*select, "Current") : nullptr;
    if (v && v->type == REG_DWORD && v->data.size() == 4) memcpy(&current, v->data.data(), 4);
    char name[32];
    snprintf(name, sizeof name, "ControlSet%03u", current);
    return name;
}

/* Walks `path` below `k`; creates missing keys when `create`. */
std::shared_ptr<Key> Walk(std::shared_ptr<Key> k, const char* path, bool create) {
    std::string part;
    std::string p = path ? path : "";
    for (size_t i = 0; k && i <= p.size(); i++) {
        if (i == p.size() || p[i] == '\\') {
            if (!part.empty()) {
                part = Linked(k, part);
                auto c = Child(k, part);
                if (!c && create) {
                    c = std::make_shared<Key>();
                    c->name = part;
                    c->parent = k.get();
                    k->subkeys.push_back(c);
                }
                k = c;
            }
            part.clear();
        } else {
            part += p[i];
        }
    }
    return k;
}

bool IsPerf(HKEY h) { return h == HKEY_PERFORMANCE_DATA; }

void MarkDeleted(Key& k) {
    k.deleted = true;
    for (auto& s : k.subkeys)
        MarkDeleted(*s);
}

bool IsString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

/* Whether the handle was opened with every right in `needed`. */
bool Allows(HKEY h, REGSAM needed) {
    if (Root(h)) return true;
    auto kh = simwin::HandleAs<KeyHandle>(reinterpret_cast<HANDLE>(h));
    return !kh || (kh->sam & needed) == needed; // a bad handle fails later
}

/* The size a value takes as the registry stores it, which RegQueryInfoKeyA
   reports: NT keeps strings as wide text, twice the bytes of their 8-bit
   form (test_reg_query_info in Wine's dlls/advapi32/tests/registry.c:
   maxvaluelen == sizeof("data") * sizeof(WCHAR)); Windows 9x keeps the 8-bit
   bytes. A query of the value itself answers the 8-bit size on both. */
DWORD StoredSize(const Value& v) {
    bool nt = simwin::PlatformId() == VER_PLATFORM_WIN32_NT;
    return nt && IsString(v.type) ? (DWORD)(2 * v.data.size()) : (DWORD)v.data.size();
}

/* A query with no data buffer, or one that finds the buffer too small,
   reports the bytes the data takes (test_query_value_ex, test_reg_query_value
   and test_string_termination in Wine's registry.c: the 8-bit size, a string
   stored without its terminator counted as stored). */
LONG CopyData(const std::vector<uint8_t>& src, LPBYTE data, LPDWORD size, bool reportNeeded,
              bool terminate = false) {
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *size = (DWORD)src.size();
        return ERROR_SUCCESS;
    }
    if (*size < src.size()) {
        if (reportNeeded) *size = (DWORD)src.size();
        return ERROR_MORE_DATA;
    }
    if (!src.empty()) memcpy(data, src.data(), src.size()); // an empty value has no bytes at all
    // NT ends a string stored without its terminator with one where there is
    // room, without counting it: RegQueryValueExA and RegEnumValueA alike.
    if (terminate && !src.empty() && src.back() && *size > src.size()) data[src.size()] = 0;
    *size = (DWORD)src.size();
    return ERROR_SUCCESS;
}

bool Nt() { return simwin::PlatformId() == VER_PLATFORM_WIN32_NT; }

} // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    openCalls.push_back({subKey ? subKey : "", sam});
    DWORD err;
    if (simwin::Enter("RegOpenKeyExA", &err, subKey)) return (LONG)err;
    if (!result) return ERROR_INVALID_PARAMETER;
    if (IsPerf(key)) {
        *result = HKEY_PERFORMANCE_DATA;
        return ERROR_SUCCESS;
    }
    auto base = FromHandle(key);
    if (!base) return ERROR_INVALID_HANDLE; // the result as it was
    // A key that is not there, or not to be opened so, gives a null handle
    // on NT (test_reg_open_key and check_user_privs in Wine's registry.c).
    if (Nt()) *result = nullptr;
    if (base->deleted) return ERROR_KEY_DELETED;
    if (simwin::RefusesViewBits(sam)) return ERROR_ACCESS_DENIED;
    auto k = Walk(base, simwin::RegistryPath(key, subKey, sam).c_str(), false);
    if (!k) return ERROR_FILE_NOT_FOUND;
    if (k->denyWrite && (sam & ~(REGSAM)KEY_READ)) return ERROR_ACCESS_DENIED;
    auto h = std::make_shared<KeyHandle>();
    h->key = k;
    h->sam = sam;
    *result = reinterpret_cast<HKEY>(simwin::NewHandle(h));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM sam, void*, PHKEY result,
                     LPDWORD disposition) {
    DWORD err;
    if (simwin::Enter("RegCreateKeyExA", &err, subKey)) return (LONG)err;
    auto base = FromHandle(key);
    if (!base || !result) return ERROR_INVALID_HANDLE;
    if (simwin::RefusesViewBits(sam)) return ERROR_ACCESS_DENIED;
    const std::string path = simwin::RegistryPath(key, subKey, sam);
    bool existed = Walk(base, path.c_str(), false) != nullptr;
    auto k = Walk(base, path.c_str(), true);
    if (disposition) *disposition = existed ? 2 : 1;
    auto h = std::make_shared<KeyHandle>();
    h->key = k;
    h->sam = sam;
    *result = reinterpret_cast<HKEY>(simwin::NewHandle(h));
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    DWORD err;
    if (simwin::Enter("RegCloseKey", &err)) return (LONG)err;
    if (IsPerf(key) || Root(key)) return ERROR_SUCCESS;
    if (!simwin::HandleAs<KeyHandle>(reinterpret_cast<HANDLE>(key))) return ERROR_INVALID_HANDLE;
    simwin::ReleaseHandle(reinterpret_cast<HANDLE>(key));
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    DWORD err;
    if (simwin::Enter("RegQueryValueExA", &err, name)) return (LONG)err;
    if (IsPerf(key)) {
        if (!perfProvider) return ERROR_FILE_NOT_FOUND;
        std::vector<uint8_t> block = perfProvider(name ? name : "");
        if (type) *type = REG_BINARY;
        LONG rc = CopyData(block, data, size, false);
        if (rc == ERROR_MORE_DATA) *size = simwin::PerfSizeOnMoreData(*size, (DWORD)block.size());
        return rc;
    }
    auto k = FromHandle(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!Allows(key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Value* v = FindValue(*k, name);
    if (!v) {
        // Asked for its size alone, a missing value clears that size on NT;
        // 9x leaves it and clears the type (test_query_value_ex in Wine's
        // registry.c). With a buffer the size stays on both.
        if (!data && size && Nt()) *size = 0;
        if (!data && type && !Nt()) *type = REG_NONE;
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) *type = v->type;
    return CopyData(v->data, data, size, true, IsString(v->type) && Nt());
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    DWORD err;
    if (simwin::Enter("RegSetValueExA", &err, name)) return (LONG)err;
    auto k = FromHandle(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (k->denyWrite || !Allows(key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    // A string handed without its terminator, one following it in memory,
    // is stored with that terminator on NT: "Off-by-one RegSetValueExA ->
    // adds a trailing '\0'", while one followed by anything else is stored
    // as given (test_string_termination in Wine's registry.c).
    if (data && size && IsString(type) && Nt() && data[size - 1] && !data[size]) size++;
    std::vector<uint8_t> bytes(data, data + (data ? size : 0));
    if (Value* v = FindValue(*k, name)) {
        v->type = type;
        v->data = bytes;
    } else {
        k->values.push_back(Value{name ? name : "", type, bytes});
    }
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD size) {
    DWORD err;
    if (simwin::Enter("RegEnumValueA", &err)) return (LONG)err;
    auto k = FromHandle(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!Allows(key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = k->values[index];
    if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
    // Too small a room for the name or for the data leaves the name and its
    // count as they were and reports the type and the data's size
    // (test_enum_value in Wine's registry.c: "overflow name", "overflow
    // data"); 9x reports one name character less than the room given. A
    // double-byte edition of NT may report a string's stored, wide, size
    // when the name does not fit ("Chinese, Japanese, and Korean editions
    // of Windows 10 sometimes set data_count to a higher value", ibid.,
    // broken(data_count > 7)).
    const bool nameFits = *nameChars >= v.name.size() + 1;
    const bool dataFits = !data || !size || *size >= v.data.size();
    if (!nameFits || !dataFits) {
        if (!nameFits && !Nt() && *nameChars) --*nameChars;
        if (type) *type = v.type;
        if (size) *size = !nameFits && doubleByte && Nt() ? StoredSize(v) : (DWORD)v.data.size();
        return ERROR_MORE_DATA;
    }
    memcpy(name, v.name.c_str(), v.name.size() + 1);
    *nameChars = (DWORD)v.name.size();
    if (type) *type = v.type;
    if (data || size) return CopyData(v.data, data, size, true, IsString(v.type) && Nt());
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameChars, LPDWORD, LPSTR, LPDWORD,
                   FILETIME*) {
    DWORD err;
    if (simwin::Enter("RegEnumKeyExA", &err)) return (LONG)err;
    auto k = FromHandle(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!Allows(key, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& n = k->subkeys[index]->name;
    if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
    if (*nameChars < n.size() + 1) return ERROR_MORE_DATA;
    memcpy(name, n.c_str(), n.size() + 1);
    *nameChars = (DWORD)n.size();
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR, LPDWORD, LPDWORD, LPDWORD subKeys, LPDWORD maxSubKeyLen,
                      LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                      LPDWORD maxValueLen, LPDWORD securityDescriptor, FILETIME* lastWrite) {
    DWORD err;
    if (simwin::Enter("RegQueryInfoKeyA", &err)) return (LONG)err;
    auto k = FromHandle(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (!Allows(key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    DWORD maxSub = 0, maxName = 0, maxData = 0;
    for (auto& s : k->subkeys)
        maxSub = std::max(maxSub, (DWORD)s->name.size());
    for (auto& v : k->values) {
        maxName = std::max(maxName, (DWORD)v.name.size());
        maxData = std::max(maxData, StoredSize(v));
    }
    if (subKeys) *subKeys = (DWORD)k->subkeys.size();
    if (maxSubKeyLen) *maxSubKeyLen = maxSub;
    if (maxClassLen) *maxClassLen = 0;
    if (values) *values = (DWORD)k->values.size();
    if (maxValueNameLen) *maxValueNameLen = maxName;
    if (maxValueLen) *maxValueLen = maxData;
    if (securityDescriptor) *securityDescriptor = 0;
    if (lastWrite) *lastWrite = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
    DWORD err;
    if (simwin::Enter("RegDeleteValueA", &err, name)) return (LONG)err;
    auto k = FromHandle(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (k->denyWrite || !Allows(key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::string n = name ? name : "";
    for (auto it = k->values.begin(); it != k->values.end(); ++it)
        if (Same(it->name, n)) {
            k->values.erase(it);
            return ERROR_SUCCESS;
        }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    DWORD err;
    deleteKeyCalls.push_back(subKey ? subKey : "");
    if (simwin::Enter("RegDeleteKeyA", &err, subKey)) return (LONG)err;
    auto base = FromHandle(key);
    if (!base) return ERROR_INVALID_HANDLE;
    // "" names the key handed itself, which goes as any other (test_reg_delete_key
    // in Wine's registry.c); no name at all is ERROR_INVALID_PARAMETER (ibid.),
    // ERROR_BADKEY on 9x (an older copy of that test: "Win95"), but NT 4.0
    // and 2000 do not look and take it as "" ("a bug in NT4 and W2K", ibid.).
    // A root cannot go.
    const bool before2000 = Nt() && (simwin::MajorVersion() < 5 ||
                                     (simwin::MajorVersion() == 5 && simwin::MinorVersion() == 0));
    if (!subKey && !before2000) return Nt() ? ERROR_INVALID_PARAMETER : ERROR_BADKEY;
    const bool itself = !subKey || !*subKey;
    if (itself && Root(key)) return ERROR_ACCESS_DENIED;
    auto k = itself ? base : Walk(base, subKey, false);
    if (!k || (k == base && !itself)) return ERROR_FILE_NOT_FOUND;
    if (k->deleted) return ERROR_KEY_DELETED;
    // NT refuses a key that still has subkeys; Windows 9x deletes the key
    // with everything below it.
    if ((Nt() && !k->subkeys.empty()) || k->denyWrite) return ERROR_ACCESS_DENIED;
    MarkDeleted(*k);
    auto& siblings = k->parent->subkeys;
    for (auto it = siblings.begin(); it != siblings.end(); ++it)
        if (it->get() == k.get()) {
            siblings.erase(it);
            break;
        }
    return ERROR_SUCCESS;
}

namespace simwin {

void RegSetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const std::vector<uint8_t>& data) {
    auto k = Walk(Root(root), path.c_str(), true);
    if (Value* v = FindValue(*k, name.c_str())) {
        v->type = type;
        v->data = data;
    } else {
        k->values.push_back(Value{name, type, data});
    }
}

void RegSetString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value) {
    std::vector<uint8_t> bytes(value.begin(), value.end());
    bytes.push_back(0);
    RegSetValue(root, path, name, REG_SZ, bytes);
}

void RegCreatePath(HKEY root, const std::string& path) { Walk(Root(root), path.c_str(), true); }

bool RegKeyExists(HKEY root, const std::string& path) {
    return Walk(Root(root), path.c_str(), false) != nullptr;
}

bool RegValueExists(HKEY root, const std::string& path, const std::string& name) {
    auto k = Walk(Root(root), path.c_str(), false);
    return k && FindValue(*k, name.c_str());
}

std::vector<std::string> RegValueNames(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    if (auto k = Walk(Root(root), path.c_str(), false))
        for (auto& v : k->values)
            names.push_back(v.name);
    return names;
}

std::vector<uint8_t> RegValueData(HKEY root, const std::string& path, const std::string& name) {
    auto k = Walk(Root(root), path.c_str(), false);
    Value* v = k ? FindValue(*k, name.c_str()) : nullptr;
    return v ? v->data : std::vector<uint8_t>{};
}

const std::vector<std::string>& RegDeleteKeyCalls() { return deleteKeyCalls; }
const std::vector<RegOpenCall>& RegOpenKeyCalls() { return openCalls; }

void RegDenyWrite(HKEY root, const std::string& path) {
    Walk(Root(root), path.c_str(), true)->denyWrite = true;
}

void SetPerformanceData(std::function<std::vector<uint8_t>(const std::string&)> provider) {
    perfProvider = std::move(provider);
}

void SetDoubleByteEdition(bool on) { doubleByte = on; }

} // namespace simwin
