/*
** The fixture most host tests share: a fresh simulated world with drive C:
** mapped to an empty temporary folder, a zeroed scan state, and a main window
** that records every log line and status text the engine sends.
*/
#ifndef TESTS_WORLD_H
#define TESTS_WORLD_H

#include "actions/files.h"
#include "actions/processes.h"
#include "actions/registry.h"
#include "actions/services.h"
#include "engine/scan_state.h"
#include "platform/win32.h"

#include <gtest/gtest.h>
#include <string>
#include <type_traits>
#include <vector>

/* The tests' one door to the proofs the room's actions take, which
   otherwise only their provers make: a row builds one by hand to give an
   action a proof that no longer holds. For tests only: the program's own
   code cannot include it, the Windows builds have no gtest. */
struct ProofsForTests {
    static ListedProcess Listed(HANDLE process, DWORD id, bool canTerminate) {
        return ListedProcess(process, id, canTerminate);
    }
    static ServiceProof Service(SC_HANDLE service, DWORD processId) {
        return ServiceProof(service, processId);
    }
    static AutostartValue Value(HKEY root, const char* subKey, const char* name, REGSAM view = 0) {
        return AutostartValue(root, subKey, name, view);
    }
    static ServiceKey Key(const char* path) { return ServiceKey(path); }
    static CheckedFile File(HANDLE file, const FileId& id, bool known = true) {
        return CheckedFile(file, id, known);
    }
};

/* A Windows version a test runs on: its name, which names the case
   (ByName below), and what makes simwin that
   version. The one parameter of every table that runs per version. */
struct WindowsVersion {
    const char* name;
    void (*set)();
    constexpr WindowsVersion(const char* n, void (*s)()) : name(n), set(s) {}
    /* A row's bare setter (a function or a lambda): named as the version
       below it is, else "Other". */
    WindowsVersion(void (*s)());
    template <class F, class = std::enable_if_t<std::is_convertible_v<F, void (*)()>>>
    WindowsVersion(F s) : WindowsVersion(static_cast<void (*)()>(s)) {}
    bool operator==(void (*s)()) const { return set == s; }
    bool operator!=(void (*s)()) const { return set != s; }
};
inline void PrintTo(const WindowsVersion& v, std::ostream* os) { *os << v.name; }
/* Names each case of INSTANTIATE_TEST_SUITE_P by its parameter's `name`
   (letters and digits only), a version or a row of a table. */
struct ByName {
    template <class Row> std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};
inline const WindowsVersion kWin98{"Win98", simwin::SetWindows98},
    kNt4{"Nt4", simwin::SetWindowsNt4}, kWin2000{"Win2000", simwin::SetWindows2000},
    kXp{"Xp", simwin::SetWindowsXp}, kWin10{"Win10", simwin::SetWindows10};

class WorldTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    /* What each fresh world of a fixture holds; run by SetUp and Renew. */
    virtual void Furnish() {}

    /* A fresh host folder for drive `letter`. */
    std::string MapDrive(char letter, UINT type = DRIVE_FIXED);
    /* Sets g_scan.mainWindow to the recording window. */
    void AttachWindow();
    /* A run that deletes what it finds, shown in the recording window;
       `target` the drive of the run ("!:": every fixed drive). */
    void PrepareRemoval(const char* target = "");
    /* The world anew within one test: simwin, scan state, records and an
       empty drive C:, then the Windows family `version` (when given) and
       the fixture's Furnish; for tables of cases that each need a fresh start. */
    void Renew(void (*version)() = nullptr);
    void Renew(const WindowsVersion& version) { Renew(version.set); }
    /* Windows starts again: simwin anew with drive C: holding the same files,
       then the Windows family `version`; the scan state and records stay. */
    void Reboot(void (*version)() = nullptr);

    std::string root_;                         // host folder of this test
    static std::vector<std::string> lines_;    // log lines, in order
    static std::vector<std::string> statuses_; // status texts, in order
};

/* The fixture `Base` once per row of a table, GetParam() the row: by
   default once per Windows version. */
template <class Base, class Row = WindowsVersion>
class PerRow : public Base, public ::testing::WithParamInterface<Row> {};

/* Furnished for a scan that removes what it finds, with a window; infected_
   holds a specimen of W32/Phantaxis.b.FraudTool. */
class ScanWorldTest : public WorldTest {
  protected:
    void Furnish() override;
    std::vector<uint8_t> infected_;
};
/* The removal of C:\zzz\late.exe, which a scan of hostile input still reaches. */
extern const char* const kLateRemoved;

/* Each call to one of `ops` since the last renew: where a sweep fails one in turn. */
struct FaultPoint {
    std::string op;
    int call;
};
std::vector<FaultPoint> FaultPoints(std::initializer_list<const char*> ops);

using Strings = std::vector<std::string>;
/* String values under HKEY_LOCAL_MACHINE\`key`, set in this order; the
   names of the values there, in order. */
void SetStrings(const std::string& key,
                const std::vector<std::pair<std::string, std::string>>& values);
Strings ValueNames(const std::string& key);
/* The 100 bytes of the legacy signature, which a W32/Dravok.Worm hosts file carries. */
std::string LegacyPattern();
/* Registry contents at their limits: the longest value name the registry
   allows (16383 characters) made of `fill`, and `size` bytes of data with no
   NUL anywhere. */
std::string LongestValueName(char fill);
std::vector<uint8_t> Unterminated(size_t size);

/* Paths at their limits: `dir` + "\" + a name of `fill` characters ending
   in `ext`, `length` characters in all; a chain of folders, each a name of
   `length` characters of one letter from `first` up to `last` (excluded),
   below `root`; the 8.3 alias Windows gives the first long name made of
   `letter` (and `ext`, upper-cased). */
std::string PathOfLength(const std::string& dir, size_t length, char fill,
                         const std::string& ext = ".exe");
std::string FolderChain(const std::string& root, char first, char last, size_t length);
std::string Alias(char letter, const std::string& ext = "");

/* The deletions waiting for the restart, each waiting folder's random part
   ("CleanPhantaxis-restart-" and 32 hex digits) shown as '*'. */
std::vector<std::string> PendingDeletionsMasked();

/* Files the check opened, by either way it opens them: a handle (NT 2000 and
   later) or the run-time's read-only open. */
int FileOpens();
/* Between the check of a file and its disposal, the first time `op` is
   called: the folder `dir` moves aside and a link to `target` takes its
   place, as a variant that fights back would do it. */
void SwapFolderForLinkAt(const std::string& op, const std::string& dir, const std::string& target);

/* The identity of the file `path` names, known as the check knows it: through
   the handle it reads the file with. */
bool IdentityByReading(const std::string& path, FileId* id);

/* Bytes of a specimen made by tools/make_specimens (1-based row). */
std::vector<uint8_t> Specimen(int row);

/* Writes a W32/Phantaxis.Backdoor specimen to `path` (a Windows path). */
void PlantVariant(const std::string& path);
/* What a running variant lets this program do on NT: query its image and
   terminate it, nothing more (it runs under another account). */
const DWORD kVariantGrants = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
/* Plants the specimen and starts a simulated process running it; its id. */
DWORD RunVariant(const std::string& path, simwin::Termination t = simwin::Termination::Ends);

#endif
