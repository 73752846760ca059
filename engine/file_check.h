/*
** The file check: reads a file's PE headers, compares the two windows of each
** variant record, and disposes of an infected file by the scan's action.
*/
#ifndef CLEANPHANTAXIS_FILE_CHECK_H
#define CLEANPHANTAXIS_FILE_CHECK_H

#include "platform/win32.h"
#include <stdint.h>

struct PeImageInfo {
    uint16_t headerOffset;  // low 16 bits of the DOS header's e_lfanew
    uint8_t fileHeader[20]; // IMAGE_FILE_HEADER
    uint8_t optionalHeader[96];
    uint8_t sections[20 * 40]; // up to 20 IMAGE_SECTION_HEADERs
};

extern PeImageInfo g_peImage;

int32_t CheckFile(const char* checkName, const char* path);
/* False when CheckFile, given a file of this listed length, could only open
   it, read its headers and return 0: no record's size filter accepts the
   length and no memory-kill disposal is pending. Lengths of 2 GB and more
   are always handed to the check. */
bool CheckFileCouldHandle(uint64_t listedLength);
/* Closes the handle a memory-scan match kept for the image's disposal walk;
   the process scan calls it once it is done with that process, whether or
   not the disposal walk came. */
void ReleaseMatchedImage();
bool ReadFileHeader(int fd);
bool ReadSectionTable(int fd);
uint32_t RvaToFileOffset(uint32_t rva, int fd);

/* The name a renamed infected file takes: the character after the last "."
   of its file name becomes "V" (b.exe -> b.Vxe). False when the file name has
   no such character or the result does not fit `size`. */
bool RenamedPath(const char* path, char* out, size_t size);

struct FileId;

/* The rename disposal: renames the file and posts "renamed" or "Rename
   failed". With `checked`, only while the path names that file, through no
   link (see file_identity.h). */
void RenameInfected(const char* path, const char* name, const FileId* checked = nullptr);

#endif
