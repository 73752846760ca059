/*
** Removing a service's registration from the control sets, so that the
** service is not started again. Within each set the "Enum" and "Security"
** subkeys go first: RegDeleteKeyA refuses a key that still has subkeys.
*/
#include "repair/service_keys.h"
#include "actions/registry.h"
#include "repair/service_command.h"
#include "engine/scan_state.h"
#include "platform/join_path.h"
#include "platform/registry_value.h"
#include "platform/win32.h"

#include <stdio.h>
#include <stdlib.h>

/* Room for one key path: 511 characters and the terminator. */
static const size_t kPathSize = 512;

/* Deliberate: the fourth deletion (ControlSet002's Enum key) spells the path
   in capitals. The registry's names are case-insensitive, so the same key
   goes; the order and spelling of the six deletions rely on it; pinned by
   ServiceKeysTest.SixDeletionsInOrderWithTheCapitalisedFourthPath. */
static const char kSet2Caps[] = "SYSTEM\\CONTROLSET002\\SERVICES\\";
static const char kCurrent[] = "SYSTEM\\CurrentControlSet\\Services\\";
static const char kEnum[] = "\\Enum";
static const char kSecurity[] = "\\Security";

/* The longest ImagePath read: past the command-line limit of CreateProcess
   (32767 characters) no service can be started anyway. */
static const DWORD kImagePathLimit = 65536;

/* Whether the key `prefix` + `name` has an ImagePath that registers
   `image` (ServiceCommandRegistersFile); where it starts `image` only by
   cutting short another program's command, `other` gets that program. The
   value is read whole, however long its arguments: a variant's service
   does not escape by a long command. REG_SZ and REG_EXPAND_SZ are read
   alike, as the stop reads the service manager's binary path (see
   repair/service_command.cpp). */
static bool RegisteredFor(const char* prefix, const char* name, const CommandImage& image,
                          char* other, size_t otherSize) {
    char path[kPathSize], *command = NULL;
    const bool runs =
        JoinPath(path, kPathSize, prefix, name) &&
        ReadRegistryString(HKEY_LOCAL_MACHINE, path, "ImagePath", &command, 0, kImagePathLimit) &&
        ServiceCommandRegistersFile(command, image, other, otherSize);
    free(command);
    return runs;
}

/* The one maker of the proof of a service's key (actions/registry.h): a
   path this file built, for a set it decided on. */
struct ServiceKeysProver {
    static ServiceKey Key(const char* path) { return ServiceKey(path); }
};

/* Control sets are numbered 1 to 999 ("ControlSet001"). */
static const int kSetLimit = 1000;

/* The number of a key named ControlSetNNN; 0 for any other name. */
static int SetNumber(const char* name) {
    if (_strnicmp(name, "ControlSet", 10) != 0 || strlen(name) != 13) return 0;
    for (int i = 10; i < 13; i++)
        if (name[i] < '0' || name[i] > '9') return 0;
    return atoi(name + 10);
}

/* Marks in `sets` every control set SYSTEM lists (each ControlSetNNN key).
   The one Windows booted from, which Select\Current names, is also reached
   as CurrentControlSet, listed or not. */
static void ControlSets(bool sets[kSetLimit]) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char name[256];
        for (DWORD i = 0;; i++) {
            DWORD chars = sizeof name;
            const LONG rc = RegEnumKeyExA(key, i, name, &chars, NULL, NULL, NULL, NULL);
            if (rc == ERROR_NO_MORE_ITEMS || (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)) break;
            if (rc == ERROR_SUCCESS) sets[SetNumber(name)] = true;
        }
        RegCloseKey(key);
    }
    sets[0] = false;
}

/* The three deletions of one set (Enum, Security, the service's key) whose
   services key is `prefix`, where the set's key registers `image`. */
static bool DeleteInSet(const char* prefix, const char* enumPrefix, const char* name,
                        const CommandImage& image, char* other) {
    char path[kPathSize];
    char cutShort[MAX_PATH] = "";
    if (!RegisteredFor(prefix, name, image, cutShort, sizeof cutShort)) {
        if (cutShort[0]) CopyText(other, MAX_PATH, cutShort);
        return false;
    }
    const char* const paths[][2] = {{enumPrefix, kEnum}, {prefix, kSecurity}, {prefix, ""}};
    bool any = false;
    for (const auto& step : paths)
        if (JoinPath(path, kPathSize, step[0], name, step[1]) &&
            DeleteMachineKey(ServiceKeysProver::Key(path)))
            any = true;
    return any;
}

/* Every control set's three deletions in the order of the sets: each set the
   machine has whose own ImagePath registers the image, then
   CurrentControlSet. */
static bool DeleteKeys(const char* name, const CommandImage& image) {
    // An empty name would address the Services key itself, and a backslash
    // would reach into some other key.
    if (!name || !name[0] || strchr(name, '\\') || (!image.id && (!image.path || !image.path[0])))
        return false;
    // A name too long for the longest of the paths is refused as a whole:
    // deleting only some of the keys would leave the service half removed.
    char path[kPathSize];
    if (!JoinPath(path, kPathSize, kCurrent, name, kSecurity)) return false;
    bool sets[kSetLimit] = {false};
    ControlSets(sets);
    bool any = false;
    char other[MAX_PATH] = ""; // another program whose command the image cuts short
    for (int set = 1; set < kSetLimit; set++) {
        char prefix[64];
        sprintf(prefix, "SYSTEM\\ControlSet%03d\\Services\\", set);
        if (sets[set] && DeleteInSet(prefix, set == 2 ? kSet2Caps : prefix, name, image, other))
            any = true;
    }
    // CurrentControlSet last, always: on Windows the set Select\Current
    // names, its keys gone by now when it was listed; where it is a key of
    // its own (Wine has no ControlSetNNN, pinned by the conformance check
    // CurrentControlSetIsTheSelectedSet), the only one.
    if (DeleteInSet(kCurrent, kCurrent, name, image, other)) any = true;
    // The service ran the image, but its registration is the other
    // program's, which it starts again once the image is gone: deleting it
    // would break that program and stop nothing the image's removal does not.
    if (other[0]) PostLogLine("System Service     %s kept: registered for %s", name, other);
    return any;
}

bool DeleteServiceKeys(const char* name) {
    return DeleteKeys(name, CommandImage{g_scan.provedVariant, NULL, 0});
}

bool DeleteServiceKeysOfImage(const char* name, const char* image) {
    return DeleteKeys(name, CommandImage{image, NULL, 0});
}

bool DeleteServiceKeysOfImage(const char* name, char drive, const FileId& image) {
    return DeleteKeys(name, CommandImage{NULL, &image, drive});
}
