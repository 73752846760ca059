/*
** The fixture most host tests share: a fresh simulated world with drive C:
** mapped to an empty temporary folder, a zeroed scan state, and a main window
** that records every log line and status text the engine sends.
*/
#ifndef TESTS_WORLD_H
#define TESTS_WORLD_H

#include "engine/scan_state.h"
#include "platform/win32.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class WorldTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* A fresh host folder for drive `letter`. */
    std::string MapDrive(char letter, UINT type = DRIVE_FIXED);
    /* Sets g_scan.mainWindow to the recording window. */
    void AttachWindow();
    /* The world anew within one test: simwin, scan state, records and an
       empty drive C:; for tables of cases that each need a fresh start. */
    void Renew();

    std::string root_;                         // host folder of this test
    static std::vector<std::string> lines_;    // log lines, in order
    static std::vector<std::string> statuses_; // status texts, in order
};

/* Files the check opened, by either way it opens them: a handle (NT 2000 and
   later) or the run-time's read-only open. */
int FileOpens();
/* Between the check of a file and its disposal, the first time `op` is
   called: the folder `dir` moves aside and a link to `target` takes its
   place, as a variant that fights back would do it. */
void SwapFolderForLinkAt(const std::string& op, const std::string& dir, const std::string& target);

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
