/*
** Service keys: the six deletions in their order and spelling, what each
** control set gives, and names too long for the path buffer.
*/
#include "repair/service_keys.h"
#include "engine/file_check.h"
#include "repair/service_command.h"
#include "world.h"

#include <filesystem>

class ServiceKeysTest : public WorldTest {};

static const std::string kSet1 = "SYSTEM\\ControlSet001\\Services\\",
                         kSet2 = "SYSTEM\\ControlSet002\\Services\\";
static bool Has(const std::string& path) { return simwin::RegKeyExists(HKEY_LOCAL_MACHINE, path); }
/* Each key of `paths` under HKEY_LOCAL_MACHINE\`base`. */
static void Make(const std::string& base, std::initializer_list<const char*> paths) {
    for (const char* path : paths)
        simwin::RegCreatePath(HKEY_LOCAL_MACHINE, base + path);
}
/* The file the check proves a variant, which the keys of `services` (each
   under HKEY_LOCAL_MACHINE) register: the removal by a name alone acts only
   on those. */
static const char kProved[] = "C:\\Svc\\phxsvc.exe";
static void Prove(std::initializer_list<std::string> services) {
    PlantVariant(kProved);
    g_scan.action = ACTION_REPORT_ONLY;
    ASSERT_EQ(CheckFile("x", kProved), 1);
    for (const std::string& key : services)
        simwin::RegSetString(HKEY_LOCAL_MACHINE, key, "ImagePath", kProved);
}

TEST_F(ServiceKeysTest, SixDeletionsInOrderWithTheCapitalisedFourthPath) {
    Make(kSet1, {"Phx\\Enum", "Phx\\Security"});
    EXPECT_FALSE(DeleteServiceKeys("Phx")); // no variant proved yet
    Prove({kSet1 + "Phx", kSet2 + "Phx"});
    EXPECT_TRUE(DeleteServiceKeys("Phx"));
    EXPECT_EQ(simwin::RegDeleteKeyCalls(),
              (Strings{kSet1 + "Phx\\Enum", kSet1 + "Phx\\Security", kSet1 + "Phx",
                       "SYSTEM\\CONTROLSET002\\SERVICES\\Phx\\Enum", kSet2 + "Phx\\Security",
                       kSet2 + "Phx"}));
}

TEST_F(ServiceKeysTest, ResultIsTrueWhenAnyStepSucceeded) {
    // Only the second control set, in other letter case.
    simwin::RegCreatePath(HKEY_LOCAL_MACHINE, "system\\controlset002\\services\\PHX\\enum");
    Prove({"system\\controlset002\\services\\PHX"});
    EXPECT_TRUE(DeleteServiceKeys("phx"));
    EXPECT_FALSE(Has(kSet2 + "Phx"));

    // Nowhere at all: nothing registers the file, nothing is asked.
    const size_t asked = simwin::RegDeleteKeyCalls().size();
    EXPECT_FALSE(DeleteServiceKeys("Phx"));
    EXPECT_EQ(simwin::RegDeleteKeyCalls().size(), asked);

    // Another subkey keeps the service key; Enum and Security still go.
    Make(kSet1, {"Phx\\Enum", "Phx\\Security", "Phx\\Parameters"});
    Prove({kSet1 + "Phx"});
    EXPECT_TRUE(DeleteServiceKeys("Phx"));
    for (const char* key : {"Phx\\Enum", "Phx\\Security", "Phx\\Parameters"})
        EXPECT_EQ(Has(kSet1 + key), key == std::string("Phx\\Parameters")) << key;

    // A key the account may not delete fails only its own step.
    Prove({kSet2 + "Phx"});
    simwin::RegDenyWrite(HKEY_LOCAL_MACHINE, kSet2 + "Phx");
    EXPECT_FALSE(DeleteServiceKeys("Phx"));
    const ServiceKey parameters =
        ProofsForTests::Key("SYSTEM\\ControlSet001\\Services\\Phx\\Parameters");
    EXPECT_TRUE(DeleteMachineKey(parameters));
    EXPECT_FALSE(DeleteMachineKey(parameters));
}

TEST_F(ServiceKeysTest, NamesThatCannotFormAPathAreRefusedUntouched) {
    // A key's name holds at most 255 characters: the longest goes.
    std::string longest(255, 'a');
    Prove({kSet1 + longest});
    EXPECT_TRUE(DeleteServiceKeys(longest.c_str()));
    EXPECT_EQ(simwin::RegDeleteKeyCalls()[2], kSet1 + longest);

    // Too long for the paths, empty (the Services key itself) or with a
    // backslash (another key): refused, though each registers the file.
    size_t before = simwin::RegDeleteKeyCalls().size();
    Prove(
        {kSet1 + std::string(5000, 'x'), "SYSTEM\\ControlSet001\\Services", kSet1 + "Tcpip\\Enum"});
    EXPECT_FALSE(DeleteServiceKeys(std::string(5000, 'x').c_str()));
    EXPECT_FALSE(DeleteServiceKeys(""));
    EXPECT_FALSE(DeleteServiceKeys("Tcpip\\Enum"));
    EXPECT_EQ(simwin::RegDeleteKeyCalls().size(), before);
    EXPECT_TRUE(Has(kSet1 + "Tcpip\\Enum"));
}

/* A control set's keys go only where its ImagePath starts the file, read as
   the service manager reads it (its variables, either string type; quotes;
   a bare name searched; rooted; the system's forms; ".exe" added). */
TEST_F(ServiceKeysTest, OnlyAKeyRegisteredForTheImageGoes) {
    const char* image = "C:\\Program Files\\Phx\\phx.exe";
    simwin::WriteFile(image, "MZ");
    const struct {
        std::string command;
        bool deleted;
        DWORD type = REG_EXPAND_SZ;
    } rows[] = {
        {"\"C:\\Program Files\\Phx\\phx.exe\" -service", true},
        {"C:\\Program Files\\Phx\\phx.exe -service", true},
        {"C:\\Program Files\\Phx\\phx.exe .", true}, // read whole, the image again
        {"%SystemDrive%\\Program Files\\Phx\\PHX.EXE", true},
        {"%SystemDrive%\\Program Files\\Phx\\PHX.EXE", true, REG_SZ},
        {"%ProgramFiles%\\Phx\\phx.exe", true},
        {"%PhxHome%\\phx.exe -x", true},
        {"phx -service", true},
        {"\\Program Files\\Phx\\phx.exe", true},
        {"C:/Program Files/Phx/phx.exe", true},
        // "." and ".." dropped (Wine's ntdll/tests/path.c, RtlDosPathNameToNtPathName_U).
        {"C:\\Program Files\\x\\..\\Phx\\.\\phx -k", true},
        // A host's (rundll32, Q164787) service is the library's it loads.
        {"%SystemRoot%\\system32\\rundll32.exe \"C:\\Program Files\\Phx\\phx.exe\",Run", true},
        {"C:\\Program Files\\Host Tools\\rundll32.exe C:\\Links\\Phx.exe,Run", true},
        {"\"C:\\Links\\Phx.exe\"", true},
        {"%SystemRoot%\\Phx\\phx.exe", false},
        {"%UserHome%\\phx.exe", false},
        {"\"C:\\Program Files\\Phx\\phx.exe\" " + std::string(3000, 'x'), true},
        {"\\??\\C:\\PROGRA~1\\Phx\\phx", true},
        {"\"C:\\Program Files\\Phx\\phx.exe", false},
        {"%SystemRoot%\\system32\\svchost.exe -k C:\\Program Files\\Phx\\phx.exe", false},
        {"\\\\server\\Program Files\\Phx\\phx.exe", false},
        {"C:\\Program Files\\Phx\\phx.exe.bak", false},
        {"D:\\phx.exe", false}, // the image's serial and index, on another drive letter
    };
    const std::string environment =
        "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, environment, "PhxHome", REG_EXPAND_SZ,
                        {'%', 'P', 'r', 'o', 'g', 'r', 'a', 'm', 'F', 'i', 'l', 'e', 's', '%', '\\',
                         'P', 'h', 'x', 0});
    simwin::RegSetString(HKEY_LOCAL_MACHINE, environment, "Path",
                         "C:\\None;;C:\\Program Files\\Phx");
    simwin::RegSetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                         "ProgramFilesDir", "C:\\Program Files");
    simwin::WriteFile("C:\\WINDOWS\\system32\\rundll32.exe", "MZ");
    simwin::WriteFile("C:\\Program Files\\Host Tools\\rundll32.exe", "MZ");
    simwin::WriteFile("C:\\Links\\x", ""); // the folder, then a hard link of the image in it
    MapDrive('D'); // one host file system: a link there has the image's serial and index
    for (const char* link : {"C:\\Links\\phx.exe", "D:\\phx.exe"})
        std::filesystem::create_hard_link(simwin::HostPath(image), simwin::HostPath(link));
    // Set by a program of the user's: none is the service manager's.
    simwin::SetEnv("ProgramFiles", "C:\\Links");
    simwin::SetEnv("UserHome", "C:\\Program Files\\Phx");
    simwin::SetEnv("SystemRoot", "C:\\Program Files");
    FileId id; // the image as a listing proves it: on C:, whatever its path names later
    ASSERT_TRUE(IdentityAt(image, &id));
    for (const bool byIdentity : {false, true})
        for (const auto& r : rows) {
            SCOPED_TRACE(r.command.substr(0, 60) + (byIdentity ? " (identity)" : ""));
            const char* text = r.command.c_str();
            simwin::RegSetValue(HKEY_LOCAL_MACHINE, kSet2 + "Phx", "ImagePath", r.type,
                                {text, text + r.command.size() + 1});
            EXPECT_EQ(byIdentity ? DeleteServiceKeysOfImage("Phx", 'c', id)
                                 : DeleteServiceKeysOfImage("Phx", image),
                      r.deleted);
            EXPECT_EQ(Has(kSet2 + "Phx"), !r.deleted);
        }
    // Unquoted "C:\Program Files\..." starts "C:\Program.exe", never "C:\Program".
    simwin::WriteFile("C:\\Program", "MZ");
    EXPECT_FALSE(ServiceCommandRunsFile("C:\\Program Files\\Phx\\phx.exe", "C:\\Program"));
    simwin::WriteFile("C:\\Program.exe", "MZ");
    EXPECT_TRUE(ServiceCommandRunsFile("C:\\Program Files\\Phx\\phx.exe", "C:\\Program.exe"));
    // It runs the planted file, but is the image's registration: it stays.
    AttachWindow();
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kSet2 + "Phx", "ImagePath",
                         "C:\\Program Files\\Phx\\phx.exe -k");
    EXPECT_FALSE(DeleteServiceKeysOfImage("Phx", "C:\\Program.exe"));
    EXPECT_TRUE(Has(kSet2 + "Phx"));
    EXPECT_EQ(lines_, std::vector<std::string>{"System Service     Phx kept: registered for " +
                                               std::string(image)});
    // So where the longer reading's file lies beside it ("svc.exe" beside "svc
    // host.exe"), follows an extension, or is a host's library.
    simwin::WriteFile("C:\\Evil\\evil.exe -k\\x.exe", "MZ");
    simwin::WriteFile("C:\\Evil\\svc host.exe", "MZ vendor");
    simwin::WriteFile("C:\\Evil\\two.exe", "MZ");
    const char* const planted[][2] = {
        {"C:\\Evil\\evil.exe -k\\x.exe", "C:\\Evil\\evil.exe"},
        {"C:\\Evil\\svc host.exe -k", "C:\\Evil\\svc.exe"},
        {"rundll32 C:\\Evil\\x.dll,Run", "C:\\WINDOWS\\system32\\rundll32.exe"}};
    for (const auto& row : planted) {
        simwin::WriteFile(row[1], "MZ");
        simwin::RegSetString(HKEY_LOCAL_MACHINE, kSet2 + "Evil", "ImagePath", row[0]);
        EXPECT_FALSE(DeleteServiceKeysOfImage("Evil", row[1])) << row[0];
        EXPECT_TRUE(Has(kSet2 + "Evil")) << row[0];
    }
    // A second copy of the variant there, matched among 40 others, is no other program.
    g_scan.action = ACTION_REPORT_ONLY;
    for (int i = 0; i < 41; i++) {
        const std::string file = i == 20 ? "C:\\Evil\\two.exe -k" : "C:\\d" + std::to_string(i);
        PlantVariant(file);
        ASSERT_EQ(CheckFile("x", file.c_str()), 1);
    }
    simwin::RegSetString(HKEY_LOCAL_MACHINE, kSet2 + "Evil", "ImagePath", "C:\\Evil\\two.exe -k");
    EXPECT_TRUE(DeleteServiceKeysOfImage("Evil", "C:\\Evil\\two.exe"));

    // A bare name is System32's, then the Windows folder's; a drive-relative
    // one System32's on the system drive, elsewhere its root's.
    EXPECT_TRUE(ServiceCommandRunsFile("D:phx -k", "D:\\phx.exe"));
    simwin::WriteFile("C:\\WINDOWS\\phx.exe", "MZ");
    EXPECT_TRUE(ServiceCommandRunsFile("phx.exe", "C:\\WINDOWS\\phx.exe"));
    simwin::WriteFile("C:\\WINDOWS\\system32\\phx.exe", "MZ");
    EXPECT_FALSE(ServiceCommandRunsFile("phx.exe", "C:\\WINDOWS\\phx.exe"));
    EXPECT_TRUE(ServiceCommandRunsFile("C:phx", "C:\\WINDOWS\\system32\\phx.exe"));
}

/* Every control set whose own ImagePath registers the image is cleaned, the
   one Select\Current names (CurrentControlSet) always among them. */
TEST_F(ServiceKeysTest, EveryControlSetThatRegistersTheImageIsCleaned) {
    const char* image = "C:\\WINDOWS\\system32\\phx.exe";
    simwin::WriteFile(image, "MZ");
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "Current", REG_DWORD, {3, 0, 0, 0});
    for (const char* set :
         {"CurrentControlSet", "ControlSet001", "ControlSet002", "ControlSet012"}) {
        const std::string key = std::string("SYSTEM\\") + set + "\\Services\\Phx";
        SetStrings(key, {{"ImagePath", key == kSet2 + "Phx" ? "svchost.exe -k phx" : "phx"}});
        Make(key, {"\\Enum", "\\Security"});
    }
    EXPECT_TRUE(DeleteServiceKeysOfImage("Phx", image));
    for (const char* set : {"ControlSet001", "ControlSet003", "ControlSet012"})
        EXPECT_FALSE(Has(std::string("SYSTEM\\") + set + "\\Services\\Phx")) << set;
    EXPECT_TRUE(Has(kSet2 + "Phx\\Enum"));
    EXPECT_EQ(simwin::RegDeleteKeyCalls().size(), 9u);
    EXPECT_EQ(simwin::RegDeleteKeyCalls()[3], "SYSTEM\\ControlSet003\\Services\\Phx\\Enum");
    // Where SYSTEM cannot be listed, the set Windows booted from still goes.
    SetStrings("SYSTEM\\ControlSet003\\Services\\Phx", {{"ImagePath", image}});
    simwin::FailCall("RegEnumKeyExA", ERROR_ACCESS_DENIED, -1);
    EXPECT_TRUE(DeleteServiceKeysOfImage("Phx", image));
    EXPECT_FALSE(Has("SYSTEM\\ControlSet003\\Services\\Phx"));
}
