/*
** The built-in variant table.
*/
#include "engine/signatures.h"

// Not yet: the records.
const VariantSignature kVariantTable[] = {{}};
const VariantSignature* g_variantTable = kVariantTable;
