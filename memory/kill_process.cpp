/*
** Termination of the process that runs a given image file.
**
** The methods pause on the window's thread with the lengths below; the
** window neither repaints nor reacts meanwhile. The program never terminates
** itself, whatever a name or path comparison says.
**
** A process is terminated only when its image is the file, and through the
** handle opened when it was listed (or one proved to reach the same process):
** its identifier may by then belong to another program.
*/
#include "memory/kill_process.h"
#include "platform/resolve.h"
#include "engine/file_identity.h"
#include "engine/scan_state.h"
#include "memory/image_path.h"
#include "platform/platform.h"
#include "memory/process_scan.h"
#include "platform/wow64.h"

#include <ctype.h>
#include <stdlib.h>

/* ---- Windows 9x: tool help, by file name ---- */

/* Deliberate: the pauses of termination. On 9x 100 ms around each step of
   the snapshot walk (a search without a match takes about six seconds) and
   50 ms before and 500 ms after the termination; on NT 500 ms after each.
   The disposal that follows relies on them: an ended process lets go of its
   image file only some time after TerminateProcess returns; pinned by
   KillProcessTest.EachFamilyTerminatesByItsOwnMethod (its 98 row without a match). */
int32_t KillByFileNameToolhelp(const char* path) {
    HMODULE kernel = LoadSystemLibrary("Kernel32.dll"); // stays loaded
    Sleep(100);
    if (!kernel) return 0;
    // All three functions or none: without Process32Next the first entry
    // alone would be compared, as if it were the whole list.
    ProcessImage* list = ListProcessesToolhelp();
    Sleep(100);
    if (!list) return 0;
    int32_t result = 0;
    for (const ProcessImage* rec = list; rec; rec = rec->next) {
        // The snapshot names each image by its full path: the file itself,
        // not another of the same name (Windows' own EXPLORER.EXE).
        if (SameFile(rec->imagePath, path)) {
            // The first match is the only one tried.
            Sleep(50);
            result = TerminateListed(rec->listed) ? 1 : 0;
            Sleep(500);
            break;
        }
        Sleep(100); // around the fetch of the next entry
        Sleep(100);
    }
    FreeProcessList(list);
    return result;
}

/* ---- NT: by full path ---- */

/* Whether a listed image is the file `id` of the drive of `path`: the same
   volume and index as the file the process mapped when it was listed (never
   its path opened now: in the pause after a termination another program's
   image may be renamed aside and the file linked in its place), and the
   same drive letter (a volume the user brings may claim any serial and
   index), on a volume whose indexes last (never FAT: see IdentityLasts). */
static bool ImageIsFile(const ProcessImage& rec, const char* path, const FileId& id) {
    const char drive = rec.longDrive ? rec.longDrive : rec.imagePath[0];
    if (toupper((unsigned char)drive) != toupper((unsigned char)path[0])) return false;
    const FileId& image = rec.mappedImage;
    return rec.mapped && IdentityLasts(drive) && image.volume == id.volume &&
           image.indexHigh == id.indexHigh && image.indexLow == id.indexLow;
}

/* Terminates every listed process whose image is the file `id` (by default
   the one `path` names when the search starts); how many. Each image is
   compared by identity, never by its path: during the pause after a
   termination a folder of `path` may come to lead elsewhere. */
static int KillListed(const char* path, const FileId* checked, bool* listed) {
    FileId id;
    const bool known = checked ? (id = *checked, true) : IdentityAt(path, &id);
    // No privilege is enabled here: the process scan may already have done it.
    ProcessImage* list = ListProcessesPsapi(false, listed);
    int ended = 0;
    for (const ProcessImage* rec = list; rec; rec = rec->next) {
        if (!known || !ImageIsFile(*rec, path, id) || !TerminateListed(rec->listed)) continue;
        ended++;
        Sleep(500);
    }
    FreeProcessList(list);
    return ended;
}

bool KillByPathPsapi(const char* path, const FileId* id) {
    bool listed;
    KillListed(path, id, &listed);
    return listed;
}

int32_t KillByFullPath(const char* path, const FileId* id) {
    bool listed;
    return KillListed(path, id, &listed) > 0 ? 1 : 0;
}

int32_t KillProcessByImage(const char* path, const FileId* id) {
    int32_t result;
    switch (GetPlatform()) {
    case PLATFORM_WIN9X:
        result = KillByFileNameToolhelp(path);
        break;
    case PLATFORM_NT:
        switch (GetNtGeneration()) {
        case NTGEN_4: // only where psapi.dll is installed: a name proves nothing
        case NTGEN_5:
            return KillByPathPsapi(path, id) ? 1 : 0;
        default: // Vista and later
            result = KillByFullPath(path, id);
            break;
        }
        break;
    default:
        return 1; // nothing is attempted
    }
    if (result) return 1;
    MessageBoxA(NULL, "Could not kill process", path, MB_OK);
    return 0;
}
