/*
** The directory walk.
*/
#include "engine/walk.h"
#include "engine/file_check.h"

const FileCheck FileCheckList[] = {{"W32/Phantaxis.Trojan", CheckFile}, {nullptr, nullptr}};

// Not yet.
int32_t WalkDirectory(const char*) { return 0; }
void PumpMessages() {}
void ShortenPath(const char* source, char* dest, int16_t) { strcpy(dest, source); }
