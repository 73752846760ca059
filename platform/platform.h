/*
** Platform detection: which family of Windows runs, and on NT which generation.
*/
#ifndef CLEANPHANTAXIS_PLATFORM_H
#define CLEANPHANTAXIS_PLATFORM_H

#include <stdint.h>

enum : int32_t { PLATFORM_NONE = 0, PLATFORM_OTHER = 1, PLATFORM_WIN9X = 4, PLATFORM_NT = 5 };
enum : int32_t { NTGEN_NONE = 0, NTGEN_4 = 5, NTGEN_5 = 6 };

int32_t GetPlatform();
int32_t GetNtGeneration();

#endif
