/*
** The legacy attachment check: an older, separate detector for text files
** that start with the word "begin" and carry, in their first or last 4096
** bytes with all white space removed, the signature of a legacy record.
** It is applied to the hosts file at every detection.
*/
#ifndef CLEANPHANTAXIS_LEGACY_CHECK_H
#define CLEANPHANTAXIS_LEGACY_CHECK_H

#include <stddef.h>
#include <stdint.h>

/* One record of the legacy table, byte-packed as the table is stored. */
#pragma pack(push, 1)
struct LegacySignature {
    char name[25];          // detection name, NUL-padded (not terminated when 25 long)
    int32_t size;           // reference size for sizeMode 16 and 17
    int16_t position;       // window position for the fixed-position comparison
    uint16_t patternLength; // bytes of `pattern` compared; 0 disables the record
    int16_t part;           // 0: the stripped head of the file, 1: the stripped tail
    uint8_t pattern[100];   // the signature; stored scrambled in the built-in table
    int16_t searchMode;     // 1: anywhere in the part; other: at `position`
    int16_t reserved1;
    int16_t sizeMode; // 16: exact size, 17: within 4096 either way, other: none
    int16_t reserved2;
    uint8_t reserved3[27];
};
#pragma pack(pop)
static_assert(sizeof(LegacySignature) == 170, "a legacy record is 170 packed bytes");

/* Checks one file; on a match disposes of it by g_scan.action with this
   check's own wording, and returns 1 whatever the disposal's outcome.
   `defaultName` appears in no line: a match reports the record's name. */
int32_t CheckLegacyFile(const char* defaultName, const char* path);

/* Makes the check use `table` (count records, patterns in plain form) instead
   of the built-in table; a null table restores the built-in one. For tests. */
void UseLegacyTable(const LegacySignature* table, size_t count);

/* Copies the built-in record's pattern in plain form into `out` and returns
   its length (0 when `size` is too small). For tools and tests that need a
   file carrying the signature; the program itself never calls it. */
size_t CopyLegacyPattern(uint8_t* out, size_t size);

#endif
