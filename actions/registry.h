/*
** The room's registry actions: the deletion of an autostart value and of a
** service's registration keys, and the proof each takes.
**
** The proof of a value is its key, its registry view and its name, as the
** autostart walk (repair/autostart.cpp) read them when it resolved the
** value's command to the checked file, or as it remembered them then for a
** later scan. The proof of a service's keys is the control set's key whose
** ImagePath the finder (repair/service_keys.cpp) resolved to the variant's
** image, or the service the process scan proved to run it: a ServiceKey,
** which only that finder makes.
*/
#ifndef CLEANPHANTAXIS_ACTIONS_REGISTRY_H
#define CLEANPHANTAXIS_ACTIONS_REGISTRY_H

#include "platform/win32.h"

/* An autostart value: its root, key, name and view (0 or a WoW64 view
   bit), as the autostart walk found it starting the checked file or
   remembered it. Only the walk makes it; the strings are its own. */
class AutostartValue {
  public:
    HKEY Root() const { return root_; }
    const char* SubKey() const { return subKey_; }
    const char* Name() const { return name_; }
    REGSAM View() const { return view_; }

  private:
    AutostartValue(HKEY root, const char* subKey, const char* name, REGSAM view)
        : root_(root), subKey_(subKey), name_(name), view_(view) {}
    HKEY root_;
    const char* subKey_;
    const char* name_;
    REGSAM view_;
    friend struct AutostartProver; // repair/autostart.cpp
    friend struct ProofsForTests;  // tests/world.h: the tests' one door
};

/* Deletes one value; true when the deletion and the closing succeeded. */
bool DeleteRegistryValue(const AutostartValue& value);

/* A key of a service's registration under HKEY_LOCAL_MACHINE (the
   service's key in one control set, or its Enum or Security subkey), as the
   service-keys finder decided it: in a control set whose own ImagePath for
   the service registers the variant's image (for the removal by name alone,
   the file the check last proved a variant). The path is the finder's own. */
class ServiceKey {
  public:
    const char* Path() const { return path_; }

  private:
    explicit ServiceKey(const char* path) : path_(path) {}
    const char* path_;
    friend struct ServiceKeysProver; // repair/service_keys.cpp
    friend struct ProofsForTests;    // tests/world.h: the tests' one door
};

/* True when RegDeleteKeyA(HKEY_LOCAL_MACHINE, key's path) succeeded. */
bool DeleteMachineKey(const ServiceKey& key);

#endif
