/*
** Removing a service's registration from both control sets, so that the
** service is not started again. Within each set the "Enum" and "Security"
** subkeys go first: RegDeleteKeyA refuses a key that still has subkeys.
*/
#include "repair/service_keys.h"
#include "actions/registry.h"
#include "memory/image_path.h"
#include "platform/join_path.h"
#include "platform/win32.h"

#include <stdlib.h>

/* Room for one key path: 511 characters and the terminator. */
static const size_t kPathSize = 512;

static const char kSet1[] = "SYSTEM\\ControlSet001\\Services\\";
static const char kSet2[] = "SYSTEM\\ControlSet002\\Services\\";
/* Deliberate: the fourth deletion (ControlSet002's Enum key) spells the path
   in capitals. The registry's names are case-insensitive, so the same key
   goes; the order and spelling of the six deletions rely on it; pinned by
   ServiceKeysTest.SixDeletionsInOrderWithTheCapitalisedFourthPath. */
static const char kSet2Caps[] = "SYSTEM\\CONTROLSET002\\SERVICES\\";
static const char kEnum[] = "\\Enum";
static const char kSecurity[] = "\\Security";

/* The longest ImagePath read: past the command-line limit of CreateProcess
   (32767 characters) no service can be started anyway. */
static const DWORD kImagePathLimit = 65536;

/* Whether the key `prefix` + `name` has an ImagePath that runs `image`. The
   value is read whole, however long its arguments: a variant's service
   does not escape by a long command. Only REG_EXPAND_SZ is expanded, as the
   service manager does; a REG_SZ is taken as written. */
static bool RegisteredFor(const char* prefix, const char* name, const char* image) {
    char path[kPathSize];
    HKEY key;
    if (!JoinPath(path, kPathSize, prefix, name) ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    char* command = NULL;
    if (RegQueryValueExA(key, "ImagePath", NULL, &type, NULL, &size) == ERROR_SUCCESS &&
        size < kImagePathLimit) {
        command = (char*)calloc((size_t)size + 1, 1); // terminated even when the value is not
        if (command && RegQueryValueExA(key, "ImagePath", NULL, &type, (LPBYTE)command, &size) !=
                           ERROR_SUCCESS) {
            free(command);
            command = NULL;
        }
    }
    RegCloseKey(key);
    const bool runs = command && (type == REG_SZ || type == REG_EXPAND_SZ) &&
                      CommandRunsFile(command, image, type == REG_EXPAND_SZ);
    free(command);
    return runs;
}

/* The six deletions, each set's three only where `image` is null or the
   set's key registers it. */
static bool DeleteKeys(const char* name, const char* image) {
    static const struct {
        const char* prefix;
        const char* suffix;
        const char* set; // the key whose ImagePath decides
    } steps[] = {
        {kSet1, kEnum, kSet1},     {kSet1, kSecurity, kSet1}, {kSet1, "", kSet1},
        {kSet2Caps, kEnum, kSet2}, {kSet2, kSecurity, kSet2}, {kSet2, "", kSet2},
    };
    // An empty name would address the Services key itself, and a backslash
    // would reach into some other key.
    if (!name || !name[0] || strchr(name, '\\')) return false;
    // A name too long for the longest of the six paths is refused as a whole:
    // deleting only some of the keys would leave the service half removed.
    char path[kPathSize];
    if (!JoinPath(path, kPathSize, kSet1, name, kSecurity)) return false;
    const bool owned[2] = {!image || RegisteredFor(kSet1, name, image),
                           !image || RegisteredFor(kSet2, name, image)};
    bool any = false;
    for (const auto& step : steps) {
        if (!owned[step.set == kSet1 ? 0 : 1]) continue;
        if (JoinPath(path, kPathSize, step.prefix, name, step.suffix) && DeleteMachineKey(path))
            any = true;
    }
    return any;
}

bool DeleteServiceKeys(const char* name) { return DeleteKeys(name, NULL); }

bool DeleteServiceKeysOfImage(const char* name, const char* image) {
    return image && DeleteKeys(name, image);
}
