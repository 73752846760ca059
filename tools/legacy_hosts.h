/*
** The text of a hosts file that carries the legacy attachment signature:
** it starts with "begin", holds a few ordinary hosts lines, and spreads the
** signature over several lines with spaces, tabs and line breaks in it,
** which the check strips before it searches. Used by make_legacy_hosts and
** by the end-to-end driver, which plants such files under Wine.
*/
#ifndef TOOLS_LEGACY_HOSTS_H
#define TOOLS_LEGACY_HOSTS_H

#include "engine/legacy_check.h"

#include <string>

/* The file's bytes; empty when the built-in pattern cannot be had. */
inline std::string LegacyHostsText() {
    uint8_t pattern[100];
    size_t n = CopyLegacyPattern(pattern, sizeof pattern);
    if (n == 0) return std::string();
    std::string text = "begin 644 hosts\r\n127.0.0.1\tlocalhost\r\n";
    for (size_t i = 0; i < n; i++) {
        text += (char)pattern[i];
        if (i % 30 == 29)
            text += "\r\n";
        else if (i % 7 == 6)
            text += " \t";
    }
    text += "\r\nend\r\n";
    return text;
}

#endif
