/*
** make_legacy_hosts: writes a hosts file that carries the legacy attachment
** signature, for end-to-end runs that need the hosts check to fire.
**
**   make_legacy_hosts <output-file>
**
** The file's content is LegacyHostsText (tools/legacy_hosts.h).
*/
#include "tools/legacy_hosts.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_legacy_hosts <output-file>\n");
        return 2;
    }
    std::string text = LegacyHostsText();
    if (text.empty()) return 1;
    FILE* out = fopen(argv[1], "wb");
    if (!out) {
        perror(argv[1]);
        return 1;
    }
    bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
    if (fclose(out) != 0 || !written) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
