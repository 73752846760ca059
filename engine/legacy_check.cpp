/*
** The legacy attachment check.
**
** The built-in record's pattern is kept scrambled (each byte XORed with a
** one-byte key) so that the plain signature never appears in the program
** file; the first check unscrambles it in place, once for the program's life.
*/
#include "engine/legacy_check.h"
#include "actions/files.h"
#include "engine/file_check.h"
#include "engine/scan_state.h"

namespace {

const size_t kChunk = 4096;        // bytes taken from the head and from the tail
const size_t kWindow = 100;        // the fixed-position comparison's window
const uint8_t kScrambleKey = 0xB5; // XOR key of the built-in pattern

LegacySignature builtInTable[1] = {{
    "W32/Dravok.Worm", // name
    134042,            // size (no size test: sizeMode 18)
    1888,              // position (unused: searchMode 1)
    100,               // patternLength
    0,                 // part: the head
    {
        // pattern, scrambled
        0xDA, 0x9A, 0xE3, 0x9F, 0x9F, 0x9A, 0x9E, 0xE3, 0x83, 0xD9, 0xC4, 0xE5, 0xD1, 0xCB, 0x8D,
        0xF8, 0xC0, 0xD2, 0xDD, 0xC5, 0xDC, 0xDB, 0xE0, 0xCB, 0x91, 0xC3, 0xEE, 0x8C, 0xC1, 0xDB,
        0x87, 0x91, 0x84, 0xD9, 0xF7, 0xC6, 0x80, 0xCB, 0xE5, 0x9B, 0xF7, 0xD6, 0x83, 0x8A, 0xD9,
        0x9F, 0xEA, 0x86, 0xE0, 0xCC, 0xE3, 0xC1, 0x8A, 0xE7, 0xF8, 0xDD, 0xE3, 0xE4, 0x87, 0xED,
        0xF4, 0xF0, 0x9C, 0xDF, 0x9B, 0xF0, 0xEA, 0x82, 0xE0, 0x8A, 0x93, 0xC0, 0xF0, 0xE8, 0x92,
        0x8E, 0x86, 0x8E, 0xF2, 0x80, 0xE6, 0xEF, 0x8A, 0xC4, 0xC9, 0xE8, 0x96, 0xE3, 0x8E, 0x8B,
        0xEB, 0xFB, 0x8C, 0xCD, 0xDF, 0x8A, 0xCC, 0x9C, 0xEA, 0x8C,
    },
    1,   // searchMode: anywhere in the part
    4,   // reserved
    18,  // sizeMode: no size test
    0,   // reserved
    {0}, // reserved
}};

// Once-only: the built-in pattern has been unscrambled in place.
bool builtInReady = false;

// The table in use and its number of records (its end is fixed by its size).
const LegacySignature* table = builtInTable;
size_t tableCount = 1;

void UnscrambleOnce() {
    if (builtInReady) return;
    LegacySignature& r = builtInTable[0];
    for (size_t i = 0; i < r.patternLength && i < sizeof r.pattern; i++)
        r.pattern[i] ^= kScrambleKey;
    builtInReady = true;
}

/* The head and tail of a file with white space removed. */
struct StrippedFile {
    long length; // the file's length
    uint8_t head[kChunk];
    size_t headLength; // bytes of head in use
    uint8_t tail[kChunk];
    size_t tailLength;
};

bool IsBlank(uint8_t c) { return c == ' ' || (c >= 9 && c <= 13); }

size_t Strip(const uint8_t* from, size_t count, uint8_t* to) {
    size_t n = 0;
    for (size_t i = 0; i < count; i++)
        if (!IsBlank(from[i])) to[n++] = from[i];
    return n;
}

/* The last `count` bytes of the file as it stands now, not at the length
   asked before: the hosts file stays open to other writers while it is read. */
bool ReadTail(int fd, uint8_t* buffer, unsigned count) {
    if (_lseek(fd, -(long)count, SEEK_END) < 0) return false;
    return _read(fd, buffer, count) == (int)count;
}

bool ReadStripped(int fd, StrippedFile* f) {
    uint8_t raw[kChunk];
    f->length = _filelength(fd);
    if (f->length < 0) return false;
    if ((unsigned long)f->length < kChunk) {
        if (!ReadAt(fd, 0, raw, (unsigned)f->length)) return false;
        f->headLength = Strip(raw, (size_t)f->length, f->head);
        memcpy(f->tail, f->head, f->headLength);
        f->tailLength = f->headLength;
        return true;
    }
    if (!ReadAt(fd, 0, raw, kChunk)) return false;
    f->headLength = Strip(raw, kChunk, f->head);
    if (!ReadTail(fd, raw, kChunk)) return false;
    f->tailLength = Strip(raw, kChunk, f->tail);
    return true;
}

/* Deliberate: mode 17 takes a length 4096 bytes from the record's size, where
   the file check's SizeFits takes less than 4096 only. Records written for
   mode 17 count on the inclusive bound; pinned by
   LegacyCheckTest.FixedPositionAndSizeModes. */
bool SizeFits(const LegacySignature& r, long length) {
    int64_t difference = (int64_t)length - r.size;
    if (r.sizeMode == 16) return difference == 0;
    if (r.sizeMode == 17) return difference >= -4096 && difference <= 4096;
    return true;
}

/* Whether the record's pattern occurs in `data` (`count` stripped bytes).
   Every comparison lies wholly within the stripped bytes. */
bool PartMatches(const LegacySignature& r, const uint8_t* data, size_t count) {
    size_t n = r.patternLength;
    if (r.searchMode == 1) {
        if (n > count) return false;
        for (size_t at = 0; at <= count - n; at++)
            if (data[at] == r.pattern[0] && memcmp(data + at, r.pattern, n) == 0) return true;
        return false;
    }
    if (r.position < 0) return false;
    size_t position = (size_t)r.position, start;
    if (r.part == 1) {
        if (position > count) return false; // no window: the tail is too short
        start = count - position;
    } else {
        start = position;
    }
    if (start > count || kWindow > count - start) return false; // window outside the data
    return memcmp(data + start, r.pattern, n) == 0;
}

/* The attachment test on an open file: the matching record, or null. */
const LegacySignature* AttachmentTest(int fd) {
    char first[6] = {0};
    if (!ReadAt(fd, 0, first, 5) || _stricmp(first, "begin") != 0) return nullptr;
    StrippedFile f;
    if (!ReadStripped(fd, &f)) return nullptr;
    for (size_t i = 0; i < tableCount; i++) {
        const LegacySignature& r = table[i];
        if (r.patternLength == 0 || r.patternLength > sizeof r.pattern) continue;
        if (f.length < (long)r.patternLength || !SizeFits(r, f.length)) continue;
        bool matched = r.part == 1 ? PartMatches(r, f.tail, f.tailLength)
                                   : PartMatches(r, f.head, f.headLength);
        if (matched) {
            g_scan.filesInfected++;
            return &r;
        }
    }
    return nullptr;
}

/* The legacy check's delete: once, with no attribute reset; a file of
   several names (a hard link someone made to it) stays under the others and
   reads as the file check reads such a file. */
/* Deliberate: a failed delete reads "Remove failed" here and "Unable to
   remove" in the file check, and the report-only lines differ in case too.
   The log tells the two detectors apart by them; pinned by
   LegacyCheckTest.DisposalByActionWithItsOwnWording. */
void RemoveLegacy(const char* path, const char* name, const FileUnderCheck* file) {
    DWORD names = 1;
    const bool gone = file ? DeleteFileUnderCheck(*file, path, &names) : DeleteLegacyByPath(path);
    if (names > 1) {
        PostLogLine("%s     %s Unable to remove", path, name);
    } else if (gone) {
        g_scan.filesRemoved++;
        PostLogLine("%s     %s removed", path, name);
    } else {
        PostLogLine("%s     %s Remove failed", path, name);
    }
}

const DisposalStyle kLegacyDisposal = {RemoveLegacy, RenameLegacyByPath,
                                       "%s     %s Not Disinfected As Per User's Selection"};

} // namespace

int32_t CheckLegacyFile(const char*, const char* path) {
    UnscrambleOnce();
    // Opened as the file check opens a file: on the NT family what is
    // deleted or renamed is the file read, through its handle, never a path
    // re-aimed since (by path only on 9x).
    const FileUnderCheck file = OpenFileUnderCheck(path);
    if (file.Fd() < 0) return 0;
    const LegacySignature* match = AttachmentTest(file.Fd());
    char name[sizeof match->name + 1] = {0};
    if (match) {
        memcpy(name, match->name, sizeof match->name); // may fill all 25 bytes
        CopyText(g_scan.detectionName, sizeof g_scan.detectionName, name);
        CopyText(g_scan.statusText, sizeof g_scan.statusText, path);
    }
    if (!match || !file.Kept()) _close(file.Fd());
    if (!match) return 0;

    DisposeInfected(kLegacyDisposal, path, name, file.Kept() ? &file : nullptr);
    return 1;
}

void UseLegacyTable(const LegacySignature* replacement, size_t count) {
    table = replacement ? replacement : builtInTable;
    tableCount = replacement ? count : 1;
}

size_t CopyLegacyPattern(uint8_t* out, size_t size) {
    const LegacySignature& r = builtInTable[0];
    size_t n = r.patternLength;
    if (n > sizeof r.pattern || size < n) return 0;
    for (size_t i = 0; i < n; i++)
        out[i] = builtInReady ? r.pattern[i] : (uint8_t)(r.pattern[i] ^ kScrambleKey);
    return n;
}
