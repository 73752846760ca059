/*
** The room's actions, a table per kind: each row gives an action a proof
** that no longer holds (or still holds) and says whether it acts.
*/
#include "actions/files.h"
#include "actions/processes.h"
#include "engine/file_identity.h"
#include "memory/process_scan.h"
#include "world.h"

namespace {

class ActionsTest : public WorldTest {};

} // namespace

/* A listed process whose handle lacks the terminate right is reached again
   by its identifier, and ended only when the process found there was
   created when the listed one was. */
TEST_F(ActionsTest, ProcessesEndOnlyThroughTheirOwnProof) {
    const struct {
        const char* what;
        bool identifierOfAnother; // the record's identifier is now another process's
        bool ends;
    } rows[] = {
        {"the listed process, reached again", false, true},
        {"another process under the listed identifier", true, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Renew(simwin::SetWindowsXp);
        const DWORD listed = simwin::StartProcess({"C:\\v\\x.exe"});
        const DWORD other = simwin::StartProcess({"C:\\WINDOWS\\notepad.exe"});
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, listed);
        ASSERT_NE(process, nullptr);
        const DWORD id = r.identifierOfAnother ? other : listed;
        EXPECT_EQ(TerminateListed(ProofsForTests::Listed(process, id, false)), r.ends);
        EXPECT_EQ(simwin::IsRunning(id), !r.ends);
        CloseHandle(process);
    }
}

/* A file's identity is its volume and its index there: the same index on
   another volume is another file. The move never waits on an oplock another
   program took once the check had closed its handle: the file stays. */
TEST_F(ActionsTest, FilesAreKnownByVolumeAndIndex) {
    const struct {
        const char* what;
        DWORD volume, indexLow; // added to the file's own
        bool same, oplocked;
        simwin::Oplock kind = simwin::Oplock::Batch;
    } rows[] = {
        {"the file itself", 0, 0, true, false},
        {"the same index on another volume", 1, 0, false, false},
        {"another index on the same volume", 0, 1, false, false},
        {"the file itself, under another program's batch oplock", 0, 0, true, true},
        {"the file itself, under another program's filter oplock", 0, 0, true, true,
         simwin::Oplock::Filter},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Renew(simwin::SetWindowsXp); // an oplock broken stays so
        simwin::WriteFile("C:\\v\\x.exe", "checked");
        HANDLE file = OpenCheckedFile("C:\\v\\x.exe");
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FileId id;
        ASSERT_TRUE(IdentityOf(file, &id));
        id.volume += r.volume;
        id.indexLow += r.indexLow;
        EXPECT_EQ(IsFile(file, id), r.same);
        CloseHandle(file); // it shares no delete: no move while it is open
        if (r.oplocked) {
            ASSERT_TRUE(simwin::HoldOplock("C:\\v\\x.exe", r.kind));
        }
        EXPECT_EQ(PathNamesFile("C:\\v\\x.exe", id), r.same);
        EXPECT_EQ(MoveCheckedFile("C:\\v\\x.exe", "C:\\v\\x.Vxe",
                                  ProofsForTests::File(INVALID_HANDLE_VALUE, id)),
                  r.same && !r.oplocked);
        EXPECT_EQ(simwin::OplockWaits(), 0);
    }
}

/* A file named as a device is moved to wait for the restart only where its
   waiting name reaches it as the file (its "\\?\" form fits): one moved
   there otherwise could be neither held nor scheduled. */
TEST_F(ActionsTest, ADeviceNamedFileWaitsOnlyWhereItsNameReachesIt) {
    simwin::SetWindowsXp();
    simwin::MakeDir("C:\\WINDOWS");
    // Waiting as C:\WINDOWS\CleanPhantaxis-restart-<32 digits>\ (67) and 190.
    const std::string path = "C:\\aux." + std::string(182, 'a') + ".exe";
    simwin::WriteFile("\\\\?\\" + path, "MZ");
    HANDLE file = OpenFileForReading(path.c_str());
    FileId id;
    ASSERT_TRUE(IdentityOf(file, &id));
    CloseHandle(file);
    const CheckedFile checked = ProofsForTests::File(INVALID_HANDLE_VALUE, id);
    WaitingFile held{INVALID_HANDLE_VALUE, {}, ""};
    bool escapes = false;
    ScheduleDeleteOnRestart(path.c_str(), &checked, &escapes, &held);
    EXPECT_TRUE(simwin::FileExists("\\\\?\\" + path));
    if (held.held != INVALID_HANDLE_VALUE) CloseHandle(held.held);
}
