/*
** The simulated world each fuzz input runs in: a fresh simwin with drive C:
** mapped to a folder of the target's own, made once a run.
*/
#ifndef TESTS_FUZZ_FUZZ_WORLD_H
#define TESTS_FUZZ_FUZZ_WORLD_H

#include "platform/win32.h"

#include <string>
#include <unistd.h>

inline void FreshWorld(const char* target) {
    static std::string root;
    if (root.empty()) {
        std::string tmpl = std::string("/tmp/cpfuzz-") + target + "-XXXXXX";
        root = mkdtemp(&tmpl[0]);
    }
    simwin::Reset();
    simwin::MapDrive('C', root);
}

#endif
