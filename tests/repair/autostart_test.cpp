/*
** Registry autostart cleanup: the prefix and bare rules, the remembered value
** name, and registry contents that must not overflow anything.
*/
#include "platform/wow64.h"
#include "repair/autostart.h"
#include "world.h"
#include <filesystem>

namespace {

const char* const kRun = AUTOSTART_RUN_KEY;
const char* const kRunServices = AUTOSTART_RUNSERVICES_KEY;
const std::string kRemoved = "System Registry     W32/Phantaxis.Backdoor removed";

void Set(const char* key, const std::string& name, const std::string& data) {
    SetStrings(key, {{name, data}});
}
/* A value of `type` holding exactly the bytes of `data`. */
void SetRaw(const char* key, const char* name, DWORD type, const std::string& data) {
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, key, name, type, {data.begin(), data.end()});
}

} // namespace

class AutostartTest : public WorldTest {
  protected:
    void Furnish() override {
        PrepareRemoval();
        // Windows' rundll32: System32 on NT, the Windows folder on Windows 9x.
        char folder[MAX_PATH];
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        GetVersionExA(&version);
        if (version.dwPlatformId == VER_PLATFORM_WIN32_NT ? GetSystemDirectoryA(folder, MAX_PATH)
                                                          : GetWindowsDirectoryA(folder, MAX_PATH))
            simwin::WriteFile(std::string(folder) + "\\rundll32.exe", "MZ rundll32");
    }
    /* One detection of `file` by the record `variant`. */
    void Detect(const std::string& file, const char* variant = "W32/Phantaxis.C.FraudTool") {
        // The variant is a file on disk: the bare rule finds it as the shell would.
        if (!file.empty() && file.back() != '\\' && !simwin::FileExists(file))
            simwin::WriteFile(file, "MZ");
        CopyText(g_scan.currentFile, sizeof g_scan.currentFile, file.c_str());
        // The check holds the file it matched, and knows it by its identity.
        FileId id;
        EXPECT_TRUE(CleanSystemEntries(variant, IdentityByReading(file, &id) ? &id : nullptr));
    }
    /* A table's row, set in order: it stands until detection `goneAt` (from 1; 0: always). */
    struct Value {
        std::string name, data;
        int goneAt = 0;
    };
    /* The values set, then each file detected: each value stands or goes as its row says. */
    void DetectEach(const char* key, const std::vector<Value>& values,
                    const std::vector<std::string>& files) {
        for (const Value& v : values)
            Set(key, v.name, v.data);
        for (size_t i = 0; i < files.size(); i++) {
            Detect(files[i]);
            for (const Value& v : values)
                EXPECT_EQ(simwin::RegValueExists(HKEY_LOCAL_MACHINE, key, v.name),
                          v.goneAt == 0 || v.goneAt > (int)i + 1)
                    << v.name << " after " << files[i];
        }
    }
    void TearDown() override {
        EXPECT_EQ(simwin::OpenHandleCount(), leftOpen_);
        WorldTest::TearDown();
    }
    size_t leftOpen_ = 0; // handles a test leaves open on purpose
};

TEST_F(AutostartTest, PrefixRuleIgnoresCaseArgumentsAndOneLeadingQuote) {
    DetectEach(kRun,
               {{"Evil", "c:\\windows\\evil.exe /start", 1},
                {"Notepad", "c:\\windows\\notepad.exe"},
                {"Quoted", "\"C:\\Program Files\\App\\evil.exe\" -x", 4},
                {"TwoQuotes", "\"\"c:\\windows\\evil.exe"},
                {"Old", "c:\\windows\\evil.exe.old", 1},
                {"Elsewhere", "d:\\windows\\evil.exe"},
                // Naming Files: "\\?\" passes the drive path as it is.
                {"LongPrefix", "\\\\?\\C:\\WINDOWS\\evil.exe -q", 1},
                {"NtPrefix", "\\??\\c:\\windows\\evil.exe", 1},
                // The path ends where the file's does: at the end, a blank or a tab, a
                // closing quote (after dots and blanks, which Windows strips from a
                // name), or a second extension of its name; not inside a name.
                {"Spaced", "\"c:\\windows\\evil.exe \" -q", 1},
                {"Tab", "c:\\windows\\evil.exe\t-q", 1},
                {"QuotedOld", "\"c:\\windows\\evil.exe.old\" -q", 1},
                {"Longer", "c:\\windows\\evil.exe2"},
                {"Folder", "c:\\windows\\evil.exe.d\\run.exe"},
                {"InQuotes", "\"c:\\windows\\evil.exe -q\""}, // one name, of another file
                // A file named like the start of other programs' paths names none of them.
                {"Tray", "\"C:\\Program Files\\App\\tray.exe\" /s"},
                {"Unquoted", "C:\\Program Files\\App\\tray.exe /s"},
                {"Ctfmon", "C:\\WINDOWS\\system32\\ctfmon.exe"},
                // To a name without an extension Windows adds ".exe", unless it ends in a dot.
                {"NoExtension", "C:\\WINDOWS\\system32\\ctfmon"},
                {"Dotted", "\"C:\\WINDOWS\\system32\\ctfmon.\" /x", 3}},
               {"C:\\WINDOWS\\EVIL.EXE", "C:\\Program", "C:\\WINDOWS\\system32\\ctfmon",
                "c:\\program files\\app\\evil.exe"});
}

/* A file reached by its 8.3 path is named by its long one too, and the other way round. */
TEST_F(AutostartTest, EitherFormOfThePathNamesTheFile) {
    simwin::WriteFile("C:\\Program Files\\Phx\\verylongname.exe", "MZ");
    simwin::WriteFile("C:\\Program Files\\Phx\\agent.exe", "MZ another program");
    for (const char* file :
         {"C:\\PROGRA~1\\Phx\\VERYLO~1.EXE", "C:\\Program Files\\Phx\\verylongname.exe"}) {
        SCOPED_TRACE(file);
        DetectEach(
            kRun,
            {{"Short", "c:\\progra~1\\phx\\verylo~1.exe", 1},
             {"Long", "\"C:\\Program Files\\Phx\\verylongname.exe\" /x", 1},
             {"Other", "C:\\Program Files\\Phx\\verylongname.exe2"},
             // Forms mixed, and separators as Windows reads them.
             {"Mixed", "c:\\progra~1\\phx\\verylongname.exe /x", 1},
             {"MixedToo", "\"C:\\Program Files\\PHX\\VERYLO~1.EXE\"", 1},
             {"Slashes", "C:\\Program Files//Phx/verylongname.exe", 1},
             {"AllSlashes", "C:/Program Files/Phx/verylongname.exe -x", 1},
             {"Rooted", "\"\\Program Files\\Phx\\verylongname.exe\" /x", 1},
             // "." and ".." folders, as Windows drops them ("..": never past the root).
             {"Dots", "C:\\..\\Program Files\\.\\Phx\\x\\..\\verylongname.exe /x", 1},
             {"Parent", "C:\\Program Files\\Phx\\x\\..\\..\\verylongname.exe"},
             // Those of the arguments, after the program CreateProcess runs, none.
             {"Args", "C:\\Program Files\\Phx\\agent.exe ..\\..\\verylongname.exe"},
             {"QuotedArgs", "\"C:\\Program Files\\Phx\\agent.exe\" -f\\..\\verylongname.exe"}},
            {file});
    }
}

TEST_F(AutostartTest, ExpansionMatchesAndIsNeverComparedTruncated) {
    simwin::SetEnv("SystemRoot", "c:\\windows");
    SetRaw(kRunServices, "Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\evil.exe", 22));
    simwin::SetEnv("LONG", std::string(300, 'x'));
    SetStrings(kRunServices, {{"LongArgs", "%SystemRoot%\\evil.exe " + std::string(400, 'a')},
                              {"LongData", "c:\\windows\\evil.exe " + std::string(5000, 'b')},
                              {"Quoted", "\"%SystemRoot%\\evil.exe\" /s"},
                              {"LongOther", "%LONG%\\evil.exe"},
                              {"Undefined", "%NOPE%\\evil.exe"}});
    Detect("c:\\windows\\evil.exe");
    EXPECT_EQ(ValueNames(kRunServices), (Strings{"LongOther", "Undefined"}));

    // An expansion that fails skips the value, even when its raw data matches.
    SetStrings(kRun, {{"First", "c:\\windows\\evil.exe"}, {"Second", "c:\\windows\\evil.exe"}});
    simwin::FailCall("ExpandEnvironmentStringsA", ERROR_NOT_ENOUGH_MEMORY);
    Detect("c:\\windows\\evil.exe");
    EXPECT_EQ(ValueNames(kRun), (Strings{"First"}));

    // A per-user variable names the file in any listed profile, unless it
    // starts another user's file there; a path written out, one user's.
    const std::string docs = "C:\\Documents and Settings", admin = docs + "\\admin",
                      list = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    simwin::SetEnv("USERPROFILE", admin);
    simwin::SetEnv("APPDATA", admin + "\\Application Data");
    for (const std::string user : {"bob", "alice"})
        SetStrings(list + "\\" + user, {{"ProfileImagePath", docs + "\\" + user}});
    simwin::WriteFile(docs + "\\alice\\Application Data\\tool.exe", "MZ");
    // The default profile's program, which each new user gets, is another's.
    SetStrings(list, {{"ProfilesDirectory", docs}, {"DefaultUserProfile", "Default User"}});
    const std::string sync = docs + "\\Default User\\Application Data\\sync.exe";
    simwin::WriteFile(sync, "MZ");
    SetStrings(kRun, {{"Bob", "\"%APPDATA%\\evil.exe\" /q"},
                      {"Default", "\"%APPDATA%\\sync.exe\""},
                      {"Written", admin + "\\Application Data\\evil.exe"},
                      {"Other", "%USERPROFILE%\\evil.exe"},
                      {"Alice", "%APPDATA%\\tool.exe /q"}});
    // Nor by a host's library; XP's 8.3 %TEMP%; a copy matched in each profile.
    simwin::SetEnv("TEMP", "C:\\DOCUME~1\\admin\\LOCALS~1\\Temp");
    simwin::WriteFile(admin + "\\Local Settings\\Temp\\x", "");
    simwin::WriteFile(docs + "\\alice\\Application Data\\tool.dll", "MZ");
    SetStrings(kRun, {{"Hosted", "rundll32.exe \"%APPDATA%\\evil\",Run"},
                      {"HostedAlice", "rundll32.exe \"%APPDATA%\\tool.dll\",Run"},
                      {"Temp", "%TEMP%\\evil.exe -q"},
                      {"Both", "\"%APPDATA%\\phx.exe\""},
                      {"Home", "%HOMEDRIVE%%HOMEPATH%\\home.exe"}});
    simwin::SetEnv("HOMEDRIVE", "C:");
    simwin::SetEnv("HOMEPATH", "\\Documents and Settings\\admin");
    // Nor where a user's hard link at a shorter reading is his own copy.
    const std::string bobs = docs + "\\bob\\Application Data\\tool.exe";
    simwin::WriteFile(bobs, "MZ");
    std::filesystem::create_hard_link(simwin::HostPath(bobs),
                                      simwin::HostPath("C:\\Documents.exe"));
    // Nor a matched name, freed and made a hard link to the default's program.
    const std::string freed = docs + "\\bob\\x.exe";
    Detect(freed);
    std::filesystem::remove(simwin::HostPath(freed));
    std::filesystem::create_hard_link(simwin::HostPath(sync), simwin::HostPath(freed));
    // Nor a copy on his volume claiming its serial and index, even via a junction.
    MapDrive('D');
    simwin::MakeDir("D:\\u");
    std::filesystem::create_hard_link(simwin::HostPath(freed), simwin::HostPath("D:\\u\\x.exe"));
    simwin::MakeDirLink("C:\\u", "D:\\u");
    Detect("D:\\u\\x.exe");
    Detect("C:\\u\\x.exe");
    for (const char* name : {"evil.exe", "tool.exe", "sync.exe", "evil.dll", "tool.dll"})
        Detect(docs + "\\bob\\Application Data\\" + name);
    for (const char* f : {"Local Settings\\Temp\\evil.exe", "home.exe"})
        Detect(docs + "\\bob\\" + f);

    const auto copy = [&](const char* user) {
        return docs + "\\" + user + "\\Application Data\\phx.exe";
    };
    simwin::WriteFile(copy("bob"), "MZ");
    for (const char* user : {"alice", "bob"})
        Detect(copy(user));
    EXPECT_EQ(ValueNames(kRun),
              (Strings{"First", "Default", "Written", "Other", "Alice", "HostedAlice"}));
    // Vista's default profile is named whole.
    simwin::RegSetString(HKEY_LOCAL_MACHINE, list, "Default", "C:\\Users\\Default");
    simwin::WriteFile("C:\\Users\\Default\\Application Data\\phx.exe", "MZ");
    Set(kRun, "Vista", "%APPDATA%\\phx.exe");
    Detect(copy("bob"));
    EXPECT_TRUE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, kRun, "Vista"));
}

TEST_F(AutostartTest, BareRuleOnlyForFilesInSystemDirectories) {
    // The program (or rundll32's library) is the file by its whole name, in a
    // system folder; the prefix rule is never tried, even on the expansion.
    simwin::SetEnv("TMPDIR", "c:\\temp\\");
    DetectEach(kRun,
               {{"Bare", "evil.exe", 2},
                {"Rundll", "rundll32 myevil.exe.dll"},
                {"Rooted", "\\windows\\evil.exe"}, // on the system drive: another file
                {"Slashed", "c:/windows/evil.exe -q"},
                {"Other", "good.exe"},
                {"Loads", "RUNDLL32.EXE \"evil.exe\",Start", 2},
                {"Names", "notevil.exe evil.exe"},
                {"Stem", "evil -q", 2},
                {"ViaVariable", "%TMPDIR%evil.exe"},
                {"ctfmon.exe", "ctfmon.exe"},
                {"Control", "rundll32.exe shell32.dll,Control_RunDLL", 6},
                {"Shell", "rundll32 shell32", 6}},
               {"C:\\Temp\\Evil.exe", "C:\\WINDOWS\\SYSTEM32\\EVIL.EXE",
                "C:\\WINDOWS\\system32\\mon.exe", "C:\\WINDOWS\\system32\\32.exe",
                "C:\\WINDOWS\\system32\\rundll32.dll", "C:\\WINDOWS\\system32\\shell32.dll"});
    // A file of the name the shell does not reach first is another program,
    // even through a junction to a volume claiming Windows' file's identity.
    simwin::WriteFile("C:\\WINDOWS\\system32\\ctfmon.exe", "MZ");
    simwin::WriteFile("C:\\WINDOWS\\explorer.exe", "MZ");
    MapDrive('E', DRIVE_REMOVABLE);
    simwin::WriteFile("E:\\x", "");
    std::filesystem::create_hard_link(simwin::HostPath("C:\\WINDOWS\\explorer.exe"),
                                      simwin::HostPath("E:\\explorer.exe"));
    simwin::MakeDirLink("C:\\Documents and Settings\\bob\\j", "E:\\");
    DetectEach(kRun, {{"ctfmon.exe", "ctfmon.exe"}, {"Ex", "explorer.exe /n"}},
               {"C:\\Documents and Settings\\bob\\system32\\ctfmon.exe",
                "C:\\WINDOWS\\system\\ctfmon.exe", "C:\\WINDOWS\\system32\\explorer.exe",
                "C:\\Documents and Settings\\bob\\j\\explorer.exe"});

    lines_.clear();
    Set(kRunServices, "Nine", "NINE.EXE -q");
    Detect("c:\\windows\\system\\nine.exe", "W32/Phantaxis.Gen.Backdoor");
    EXPECT_TRUE(ValueNames(kRunServices).empty());
    EXPECT_EQ(lines_, (Strings{kRemoved})); // the remembered name, tried first, is gone
    // A bare match whose deletion fails is not remembered.
    Set(kRun, "Locked", "locked.exe");
    simwin::FailCallOn("RegDeleteValueA", "Locked", ERROR_ACCESS_DENIED);
    Detect("c:\\windows\\system\\locked.exe");
    EXPECT_STREQ(g_scan.autostartValueName, "Nine");

    // A host loads a library written with a path wherever it lies; a bare one
    // from the host's folder, then as System32's host. Other files stay.
    simwin::WriteFile("C:\\WINDOWS\\system32\\shell32.dll", "MZ");
    simwin::WriteFile("C:\\Program Files\\Host Tools\\rundll32.exe", "MZ");
    simwin::SetEnv("Phx", "C:\\Temp");
    const std::string host = "%SystemRoot%\\system32\\rundll32.exe ";
    DetectEach(
        kRunServices,
        {{"Path", "rundll32.exe C:\\Temp\\evil.dll,Start", 1},
         {"Quoted", "RUNDLL32 \"C:\\Temp\\evil.dll\",X", 1},
         {"Slashes", "rundll32 c:/temp/evil,X", 1},
         {"Rooted", host + "\\temp\\evil.dll,X", 1},
         {"Variable", "rundll32 %Phx%\\evil.dll,X", 1},
         {"HostFolder", "\\temp\\rundll32 evil,X", 1},
         {"SpacedFolder", "c:\\program files\\host tools\\rundll32.exe c:\\temp\\evil.dll,X", 1},
         {"SpacedSlashes", "c:/program files/host tools/rundll32.exe c:\\temp\\evil.dll,X", 1},
         {"SpacedRooted", "\\program files\\host tools\\rundll32.exe c:\\temp\\evil.dll,X", 1},
         {"SpacedPrefixed",
          "\\\\?\\c:\\program files\\host tools\\rundll32.exe c:\\temp\\evil.dll,X", 1},
         {"Searched", "c:\\tools\\rundll32.exe hosted,X", 3},
         {"Argument", "rundll32 hosted,X c:\\docs", 3},
         {"Windows", host + "shell32.dll,Control_RunDLL"},
         {"System", "rundll32.exe c:\\windows\\system32\\shell32.dll,X"},
         {"Bak", "rundll32.exe C:\\Temp\\evil.dll.bak,X"},
         {"Relative", "rundll32 temp/evil.dll,X"},
         {"Viewer", "notepad.exe C:\\Temp\\evil.dll"}},
        {"C:\\Temp\\evil.dll", "C:\\Temp\\shell32.dll", "C:\\WINDOWS\\system32\\hosted.dll"});

    // In code page 932 "\x95\x5c" is one character: "c:\\tools\\\x95\x5crundll32.exe" is no host.
    simwin::SetAnsiCodePage(932);
    simwin::WriteFile("C:\\Tools\\\x95\x5crundll32.exe", "MZ");
    DetectEach(kRun, {{"Lookalike", "c:\\tools\\\x95\x5crundll32.exe c:\\temp\\evil.dll,X"}},
               {"C:\\Temp\\evil.dll"});
    simwin::SetAnsiCodePage(1252);

    // Windows 9x: rundll32 lies in the Windows folder, where its loader looks first.
    Renew(+[] { simwin::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10); });
    simwin::WriteFile("C:\\WINDOWS\\SYSTEM\\evil.dll", "MZ another");
    DetectEach(kRun, {{"Nine", "rundll32 evil,X", 1}}, {"C:\\WINDOWS\\evil.dll"});
}

/* Under WoW64 a 32-bit view's value names files as a 32-bit program sees
   them (SysWOW64, shared folders, Sysnative); a lookalike is no alias. */
TEST_F(AutostartTest, Wow64ValuesOfThe32BitViewNameWhatA32BitProgramStarts) {
    const char* const run32 = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
    simwin::SetWindows10();
    simwin::SetWow64(true);
    DetectWow64();
    Set(kRun, "Bare64", "b32.exe");
    DetectEach(run32,
               {{"Alias", "C:\\Windows\\Sysnative\\a64.exe /q", 1},
                {"Redirected", "C:\\WINDOWS\\system32\\a64.exe"},
                {"Shared", "c:\\windows\\system32\\drivers\\etc\\svc.exe", 2},
                {"Lookalike", "C:\\WINDOWS\\system32.exe", 3},
                {"Bare32", "b32.exe", 4}},
               {"C:\\WINDOWS\\system32\\a64.exe", "C:\\WINDOWS\\system32\\drivers\\etc\\svc.exe",
                "C:\\WINDOWS\\system32.exe", "C:\\WINDOWS\\SysWOW64\\b32.exe"});

    // The 64-bit view's %ProgramFiles% is not the "(x86)" folder.
    Set(run32, "Phx32", "\"%ProgramFiles%\\Phx\\evil.exe\" /bg");
    DetectEach(kRun,
               {{"Bare64", "b32.exe"},
                {"Phx64", "\"%ProgramFiles%\\Phx\\evil.exe\" /bg", 1},
                {"Common64", "%CommonProgramFiles%\\evil.exe", 2}},
               {"C:\\Program Files\\Phx\\evil.exe", "C:\\Program Files\\Common Files\\evil.exe"});
    EXPECT_EQ(ValueNames(run32), (Strings{"Redirected", "Phx32"}));

    // The remembered name goes again in its own view only.
    lines_.clear();
    Set(run32, "SecurityHealth", "C:\\Phx\\evil.exe");
    Set(kRun, "SecurityHealth", "%windir%\\system32\\SecurityHealthSystray.exe");
    Detect("C:\\Phx\\evil.exe");
    Set(run32, "SecurityHealth", "C:\\Phx\\evil.exe /again");
    Detect("C:\\Phx\\other.exe", "W32/Phantaxis.D.Trojan");
    EXPECT_EQ(lines_, (Strings{kRemoved, "System Registry     W32/Phantaxis.D.Trojan removed"}));
    EXPECT_EQ(ValueNames(kRun), (Strings{"Bare64", "SecurityHealth"}));

    // Before Windows 7 (no ProgramW6432) the 64-bit folders come from the registry.
    simwin::SetVersion(VER_PLATFORM_WIN32_NT, 6, 0, 6002);
    simwin::SetWow64(true);
    SetStrings("SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
               {{"ProgramFilesDir", "C:\\Program Files"},
                {"CommonFilesDir", "C:\\Program Files\\Common Files"}});
    SetStrings("SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion",
               {{"ProgramFilesDir", "C:\\Program Files (x86)"}});
    DetectEach(kRun,
               {{"Vista64", "%ProgramFiles%\\Phx\\evil.exe", 1},
                {"Common", "\"%CommonProgramFiles%\\evil.exe\"", 2},
                {"X86", "%ProgramFiles(x86)%\\Phx\\evil.exe"}},
               {"C:\\Program Files\\Phx\\evil.exe", "C:\\Program Files\\Common Files\\evil.exe"});
    EXPECT_EQ(ValueNames(run32), (Strings{"Redirected", "Phx32"}));
}

TEST_F(AutostartTest, RememberedNameIsDeletedAgainInItsOwnKeyAtTheNextDetection) {
    Set(kRun, "Loader", "c:\\bad\\one.exe");
    Detect("c:\\bad\\one.exe", "W32/Phantaxis.A.Backdoor");
    // Back, still starting the variant, it goes by name first at the next
    // detection; the same name in the other key is another program's.
    lines_.clear();
    Set(kRun, "LOADER", "\"c:\\bad\\one.exe\" /again");
    SetStrings(kRunServices,
               {{"Loader", "c:\\windows\\system32\\loader.exe"}, {"Two", "c:\\bad\\two.exe"}});
    Detect("c:\\bad\\two.exe", "W32/Phantaxis.C.FraudTool");
    EXPECT_EQ(lines_, (Strings{"System Registry     W32/Phantaxis.C.FraudTool removed", kRemoved}));
    EXPECT_EQ(ValueNames(kRunServices), Strings{"Loader"});
    EXPECT_STREQ(g_scan.autostartValueName, "Two");
    Set(kRunServices, "Two", "c:\\bad\\two.exe -again");
    Detect("c:\\bad\\six.exe", "W32/Phantaxis.D.Trojan");
    EXPECT_EQ(ValueNames(kRunServices), Strings{"Loader"});
    // Put back by its own program, it starts another file by now: it stays.
    simwin::WriteFile("c:\\program files\\two\\two.exe", "MZ");
    Set(kRunServices, "Two", "\"c:\\program files\\two\\two.exe\"");
    Detect("c:\\bad\\seven.exe", "W32/Phantaxis.D.Trojan");
    EXPECT_EQ(ValueNames(kRunServices), (Strings{"Loader", "Two"}));

    // A failed prefix deletion is remembered and retried; then nothing is posted.
    lines_.clear();
    Set(kRun, "Stuck", "c:\\bad\\three.exe");
    simwin::FailCallOn("RegDeleteValueA", "Stuck", ERROR_ACCESS_DENIED);
    Detect("c:\\bad\\three.exe");
    EXPECT_STREQ(g_scan.autostartValueName, "Stuck");
    Detect("c:\\bad\\four.exe", "W32/Phantaxis.D.Trojan");
    EXPECT_EQ(lines_, (Strings{"System Registry     W32/Phantaxis.D.Trojan removed"}));
    Detect("c:\\bad\\five.exe");
    EXPECT_EQ(lines_.size(), 1u);
}

TEST_F(AutostartTest, OddRegistryContentsAreHandledWithinBounds) {
    // An unterminated string is terminated; other types are no commands.
    SetRaw(kRun, "Unterminated", REG_SZ, "c:\\e.exe");
    SetRaw(kRun, "Binary", REG_BINARY, "C:\\E.EXE 1");
    SetRaw(kRun, "Multi", REG_MULTI_SZ, std::string("c:\\e.exe\0x\0", 12));
    SetRaw(kRun, "Number", REG_DWORD, "\1\2\3\4");
    SetRaw(kRun, "Empty", REG_SZ, "");
    Detect("c:\\e.exe");
    EXPECT_EQ(ValueNames(kRun), (Strings{"Binary", "Multi", "Number", "Empty"}));

    // Values that cannot be enumerated or read are skipped; the rest is walked.
    SetStrings(kRunServices, {{"A", "c:\\e.exe"}, {"B", "c:\\e.exe"}, {"C", "c:\\e.exe"}});
    simwin::FailCall("RegEnumValueA", ERROR_NOT_ENOUGH_MEMORY, 1, 4); // RunServices, i = 0
    simwin::FailCallOn("RegQueryValueExA", "B", ERROR_NOT_ENOUGH_MEMORY);
    Detect("c:\\e.exe");
    EXPECT_EQ(ValueNames(kRunServices), (Strings{"A", "B"}));

    // A value that grows between the size query and the read is skipped.
    Set(kRun, "Grows", "c:\\e.exe");
    int queries = 0;
    simwin::OnCall("RegQueryValueExA", [&] {
        if (simwin::CallAbout() == "Grows" && ++queries == 2)
            Set(kRun, "Grows", "c:\\e.exe " + std::string(1000, 'g'));
    });
    Detect("c:\\e.exe");
    EXPECT_TRUE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, kRun, "Grows"));

    // No file: no walk; no folder: the walk ends; no window: values go silently.
    Set(kRun, "Bare", "evil.exe");
    const int opens = simwin::CallCount("RegOpenKeyExA");
    g_scan.autostartValueName[0] = 0; // nothing remembered to try first
    Detect("");
    EXPECT_EQ(simwin::CallCount("RegOpenKeyExA"), opens);
    Detect("evil.exe");
    g_scan.mainWindow = nullptr;
    lines_.clear();
    Set(kRun, "Full", "c:\\windows\\system32\\evil.exe");
    Detect("c:\\windows\\system32\\evil.exe");
    EXPECT_EQ(ValueNames(kRun), (Strings{"Binary", "Multi", "Number", "Empty", "Grows"}));
    EXPECT_TRUE(lines_.empty());
}

/* A failed close reads nothing and counts no deletion; a value is deleted
   through its key opened for every right. */
TEST_F(AutostartTest, RegistryHelpersReportEachFailure) {
    Set(kRun, "V", "data");
    char* data = nullptr;
    simwin::FailCall("RegCloseKey", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kRun, "V", &data));
    EXPECT_EQ(data, nullptr);
    EXPECT_FALSE(DeleteRegistryValue(ProofsForTests::Value(HKEY_LOCAL_MACHINE, kRun, "missing")));
    simwin::FailCall("RegCloseKey", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeleteRegistryValue(
        ProofsForTests::Value(HKEY_LOCAL_MACHINE, kRun, "V"))); // deleted, but the close failed
    EXPECT_FALSE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, kRun, "V"));
    EXPECT_EQ(simwin::RegOpenKeyCalls().back().access, (REGSAM)KEY_ALL_ACCESS);
    leftOpen_ = 2; // a failed RegCloseKey leaves its handle open
}
