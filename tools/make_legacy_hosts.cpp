/*
** make_legacy_hosts: writes a hosts file that carries the legacy attachment
** signature, for end-to-end runs that need the hosts check to fire.
**
**   make_legacy_hosts <output-file>
**
** The file starts with "begin", holds a few ordinary hosts lines, and spreads
** the signature over several lines with spaces, tabs and line breaks in it,
** which the check strips before it searches.
*/
#include "engine/legacy_check.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_legacy_hosts <output-file>\n");
        return 2;
    }
    uint8_t pattern[100];
    size_t n = CopyLegacyPattern(pattern, sizeof pattern);
    if (n == 0) return 1;
    std::string text = "begin 644 hosts\r\n127.0.0.1\tlocalhost\r\n";
    for (size_t i = 0; i < n; i++) {
        text += (char)pattern[i];
        if (i % 30 == 29)
            text += "\r\n";
        else if (i % 7 == 6)
            text += " \t";
    }
    text += "\r\nend\r\n";
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
