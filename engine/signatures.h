/*
** The built-in table of variant signatures: one packed 108-byte record per
** known variant file, ended by a record of zero bytes.
*/
#ifndef CLEANPHANTAXIS_SIGNATURES_H
#define CLEANPHANTAXIS_SIGNATURES_H

#include <stdint.h>

#pragma pack(push, 1)
struct VariantSignature {
    char name[50];        // detection name; a first byte 0 ends the table
    int32_t offset1;      // first window, from the entry point (RVA displacement)
    uint8_t pattern1[21]; // 20 compared bytes and an unused zero
    int32_t offset2;      // second window
    uint8_t pattern2[21];
    int32_t fileSize; // file length the record describes
    int32_t sizeMode; // 1 equal, 2 within 4095 bytes, 3 any, else never
};
#pragma pack(pop)

static_assert(sizeof(VariantSignature) == 108, "a signature record is 108 packed bytes");

#define SIZE_TOLERANCE 4096

/* The built-in table, ended by its zero record. */
extern const VariantSignature kVariantTable[];
/* The table the file check walks (tests may point it elsewhere). */
extern const VariantSignature* g_variantTable;

#endif
