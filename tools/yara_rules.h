/*
** The variant table as YARA rules: one rule per record, so that the YARA
** engines an organisation already runs across its machines find the files
** the program finds.
**
** A record becomes:
**
**   rule phantaxis_rec_NNN             NNN: the record's row, from 1
**     meta:    name (the detection name), index (the row)
**     strings: $w1, $w2                the two 20-byte windows
**     condition:
**       pe.is_pe and <size test> and
**       $w1 at pe.rva_to_offset((pe.entry_point_raw + offset1) & 0xFFFFFFFF) and
**       $w2 at pe.rva_to_offset((pe.entry_point_raw + offset2) & 0xFFFFFFFF)
**
** The size test follows the record's size mode: 1 "filesize ==", 2 within the
** table's tolerance on either side, 3 none; a record of any other mode is
** never tried by the file check, and its rule starts with "false". The
** displacement is added in 32 bits with wrap-around, as the file check adds
** it to the entry point.
**
** YARA's pe module reads the file as any PE reader does; where the file
** check's own reading differs (see the README), a damaged file may be judged
** differently by the two.
*/
#ifndef TOOLS_YARA_RULES_H
#define TOOLS_YARA_RULES_H

#include "engine/signatures.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

namespace yara_rules {

/* "phantaxis_rec_007" for row 7. */
inline std::string RuleName(int row) {
    char name[32];
    snprintf(name, sizeof name, "phantaxis_rec_%03d", row);
    return name;
}

/* The detection name as a YARA text string: at most the 49 characters the
   file check reports, quotes and backslashes escaped, other bytes outside
   printable ASCII as \xHH. */
inline std::string QuotedName(const char* name) {
    std::string out = "\"";
    for (size_t i = 0; i < sizeof(VariantSignature{}.name) - 1 && name[i]; i++) {
        const unsigned char c = (unsigned char)name[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c > 0x7E) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

inline std::string HexString(const uint8_t* pattern) {
    std::string out = "{";
    for (int i = 0; i < 20; i++) {
        char hex[4];
        snprintf(hex, sizeof hex, " %02x", pattern[i]);
        out += hex;
    }
    return out + " }";
}

/* "pe.rva_to_offset((pe.entry_point_raw - 552) & 0xFFFFFFFF)" */
inline std::string WindowPosition(int32_t displacement) {
    char text[96];
    const int64_t d = displacement;
    snprintf(text, sizeof text,
             "pe.rva_to_offset((pe.entry_point_raw %c %" PRId64 ") & 0xFFFFFFFF)",
             d < 0 ? '-' : '+', d < 0 ? -d : d);
    return text;
}

/* The size test of a record, or "" for none; false when the record is never
   tried. Sizes are worked out in 64 bits, so no record overflows. */
inline bool SizeTest(const VariantSignature& rec, std::string* test) {
    const int64_t size = rec.fileSize;
    char text[96];
    switch (rec.sizeMode) {
    case 1:
        snprintf(text, sizeof text, "filesize == %" PRId64, size);
        break;
    case 2:
        snprintf(text, sizeof text, "filesize > %" PRId64 " and filesize < %" PRId64,
                 size - SIZE_TOLERANCE, size + SIZE_TOLERANCE);
        break;
    case 3:
        text[0] = 0;
        break;
    default:
        return false;
    }
    *test = text;
    return true;
}

inline std::string Rule(const VariantSignature& rec, int row) {
    std::string size;
    const bool tried = SizeTest(rec, &size);
    std::string r = "rule " + RuleName(row) + "\n{\n";
    r += "    meta:\n";
    r += "        name = " + QuotedName(rec.name) + "\n";
    r += "        index = " + std::to_string(row) + "\n";
    r += "    strings:\n";
    r += "        $w1 = " + HexString(rec.pattern1) + "\n";
    r += "        $w2 = " + HexString(rec.pattern2) + "\n";
    r += "    condition:\n";
    if (!tried)
        r += "        // size mode " + std::to_string(rec.sizeMode) +
             ": the program never tries this record\n        false and\n";
    r += "        pe.is_pe and\n";
    if (!size.empty()) r += "        " + size + " and\n";
    r += "        $w1 at " + WindowPosition(rec.offset1) + " and\n";
    r += "        $w2 at " + WindowPosition(rec.offset2) + "\n";
    return r + "}\n";
}

/* The whole rules file for a table ended by its zero record. */
inline std::string RulesFile(const VariantSignature* table) {
    int rows = 0;
    std::string body;
    for (const VariantSignature* rec = table; rec->name[0]; rec++)
        body += "\n" + Rule(*rec, ++rows);
    return "// CleanPhantaxis: the built-in variant table as YARA rules, one rule per\n"
           "// record (" +
           std::to_string(rows) +
           " records), written by tools/export_yara from the program's own\n"
           "// table. Development signatures: they match the project's specimens.\n"
           "// Run: yara -r phantaxis.yar <folder>\n\n"
           "import \"pe\"\n" +
           body;
}

} // namespace yara_rules

#endif
