/*
** The name a file opens by as the file it is.
**
** Win32 reads a path before the file system sees it: a last part whose name,
** up to its first dot or colon and without trailing blanks, is a device's
** names that device in every folder, with any extension ("nul.exe",
** "aux.tar.gz"), whatever file of that name the folder holds ("Naming Files,
** Paths, and Namespaces"; Microsoft's KB Q71843: "MS-DOS character devices
** are defined as files in all directories"). Which names, by family:
**   both   CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, and CLOCK$, the
**          clock device of MS-DOS that Microsoft's former "Naming a File"
**          page also gives for NT ("Windows NT: CLOCK$ is also a reserved
**          device name");
**   NT     also COM and LPT with the superscript digits 1 to 3 (U+00B9,
**          U+00B2, U+00B3: "Windows recognizes the 8-bit ISO/IEC 8859-1
**          superscript digits ... as valid parts of COM# and LPT# device
**          names"), the bytes 0xB9, 0xB2 and 0xB3, whatever the code page
**          makes of them; and CONIN$ and CONOUT$, which Windows 8 and
**          later read as devices (Wine's ntdll tests,
**          test_RtlIsDosDeviceName_U: the bare names, "fails on win7"), and
**          Wine in any folder on every version it reports; and COM0 and
**          LPT0, which "Naming Files" has listed among the reserved names
**          while RtlIsDosDeviceName_U reads "c:\lpt0.txt" as no device on
**          every Windows Wine's tests ran on: whichever way a version reads
**          them, the "\\?\" form reaches the file;
**   9x     COM0 and LPT0 stay files, as every source but that page
**          reads them: taken for devices, they would be reached by no name.
** On NT a name taken for a device needlessly costs nothing: its "\\?\" form
** reaches the file either way, so NT's list is the widest any version or
** Wine reads. On 9x it costs the file, which no name then
** reaches: there its list holds only what Microsoft documents, and a device
** of another name (a driver CONFIG.SYS loads, as CONFIG$ or EMMXXXX0) is
** caught by its open, whose handle is no disk file (GetFileType), and never
** read (OpenDescriptorForReading).
** The last part is found by characters of the ANSI code page: in a
** double-byte one (932 and its kin) a trail byte may be 0x5C, which is then
** no backslash (IsDBCSLeadByte).
** A "\\?\" path is handed to the file system as written, so on NT a file
** of such a name is opened by the "\\?\" form of its drive path. Windows 9x
** has no such form, and the 8.3 name of "aux.exe" is that name again: there
** such a file is reached by no name, and is not opened at all.
*/
#ifndef CLEANPHANTAXIS_FILE_NAMES_H
#define CLEANPHANTAXIS_FILE_NAMES_H

#include "platform/win32.h"

/* Drops the stream types that name a file or folder itself from the drive
   path `path`: "C:\x\a.exe::$DATA" names the file itself, its unnamed data
   stream, and "C:\x\a.exe:s:$DATA" its stream s (Microsoft's "File Streams
   (Local File Systems)": "filename:stream name:stream type", the unnamed
   stream's type $DATA); "C:\x::$INDEX_ALLOCATION" and
   "C:\x:$I30:$INDEX_ALLOCATION" name the folder x, its directory stream, in
   any place of the path (the same page and MS-FSCC 5.1, "NTFS Streams":
   "Dir C:\Users", "Dir C:\Users:$I30:$INDEX_ALLOCATION" and "Dir
   C:\Users::$INDEX_ALLOCATION" are equivalent), never a stream of a file.
   In any letter case, as NTFS compares the type. */
void DropDataType(char* path);

/* Whether the drive path `path` names a named stream of a file
   ("C:\x:evil.exe"): a colon after its drive's. */
bool NamesStream(const char* path);

/* Whether the last part of `path` names a DOS device. */
bool NamesDosDevice(const char* path);

/* The name by which `path` opens as the file it names: `path` itself, or on
   NT the "\\?\" form of a drive path whose last part names a device. Null
   where no name reaches the file: such a path on 9x, or one too long for the
   form (the ANSI functions take MAX_PATH characters). */
class FileName {
  public:
    explicit FileName(const char* path);
    const char* get() const { return name_; }

  private:
    char prefixed_[MAX_PATH];
    const char* name_;
};

#endif
