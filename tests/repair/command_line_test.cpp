/*
** The readings of a command's program, a row a form, each with where Windows
** records it; which reading counts is the callers' (service keys, autostart).
*/
#include "repair/command_line.h"
#include "world.h"

namespace {

const std::string kLongest = "c:\\" + std::string(256, 'a'); // 259 characters, a path's most

const struct {
    std::string text; // past the opening quote where quoted
    bool quoted, dropDots;
    std::vector<std::string> readings; // as ReadingPath gives them, in order
    UINT codePage = 1252;
} kForms[] = {
    // CreateProcess, lpCommandLine remarks: the four readings of its example, in order.
    {"c:\\program files\\sub dir\\program name",
     false,
     false,
     {"c:\\program.exe", "c:\\program files\\sub.exe", "c:\\program files\\sub dir\\program.exe",
      "c:\\program files\\sub dir\\program name.exe"}},
    // Quoted, up to the closing quote (Wine's dlls/kernel32/tests/process.c,
    // test_CommandLine: "\"%s\" process dump"), else to the end.
    {"c:\\program files\\app.exe\" -x y", true, false, {"c:\\program files\\app.exe"}},
    {"c:\\a b\\app -x", true, false, {"c:\\a b\\app -x.exe"}},
    // Parsing C command-line arguments (learn.microsoft.com/cpp/c-language):
    // "whitespace characters, which are either spaces or tabs".
    {"c:\\app.exe\t-x y", false, false, {"c:\\app.exe", "c:\\app.exe\t-x", "c:\\app.exe\t-x y"}},
    // lpApplicationName: "If the file name does not contain an extension, .exe
    // is assumed"; a name without a folder is the caller's to search for.
    {"notepad /x", false, false, {"notepad", "notepad /x"}},
    {"c:\\x\\ctfmon. /x", false, false, {"c:\\x\\ctfmon.", "c:\\x\\ctfmon. /x"}},
    // "." and "..", never past the root, where the caller drops them (Wine's
    // dlls/ntdll/tests/path.c, test_RtlDosPathNameToNtPathName_U).
    {"c:\\..\\a\\..\\b\\. x", false, true, {"c:\\b\\.exe", "c:\\b\\. x"}},
    {"c:\\..\\a\\..\\b\\. x", false, false, {"c:\\..\\a\\..\\b\\.", "c:\\..\\a\\..\\b\\. x"}},
    // A path is read as the characters of the ANSI code page: in 932 "\x95\x5c"
    // is one (U+8868), its second byte no separator (IsDBCSLeadByte).
    {"c:\\x\\\x95\x5c\\.\\y.exe", false, true, {"c:\\x\\\x95\x5c\\y.exe"}, 932},
    {"c:\\x\\\x95\x5c\\..\\y.exe", false, true, {"c:\\x\\y.exe"}, 932},
    {"c:\\x\\a.\x95\x5c", false, false, {"c:\\x\\a.\x95\x5c"}, 932},
    // Naming Files, "Maximum Path Length Limitation": 260 with the terminator,
    // the ".exe" CreateProcess appends (lpCommandLine) counted in.
    {kLongest + " x", false, false, {}},
    {kLongest + "a x", false, false, {}},
    {kLongest + "\" x", true, false, {}},
    {kLongest.substr(0, 255) + ".exe x", false, false, {kLongest.substr(0, 255) + ".exe"}},
};

} // namespace

TEST(CommandLineTest, ReadingsOfEachForm) {
    char path[MAX_PATH + 5];
    for (const auto& form : kForms) {
        simwin::SetAnsiCodePage(form.codePage);
        std::vector<std::string> readings;
        ProgramReadings reader{form.text.c_str(), form.quoted};
        for (size_t end; reader.Next(&end) &&
                         ReadingPath(form.text.c_str(), end, form.dropDots, path, sizeof path);)
            readings.push_back(path);
        EXPECT_EQ(readings, form.readings) << form.text.substr(0, 60);
    }
    // A reading fits a path's buffer with the ".exe" it gets, and only then.
    EXPECT_TRUE(ReadingPath(kLongest.c_str(), 255, false, path, MAX_PATH));
    EXPECT_FALSE(ReadingPath(kLongest.c_str(), 256, false, path, MAX_PATH));
    EXPECT_TRUE(
        ReadingPath((kLongest.substr(0, 255) + ".exe").c_str(), 259, false, path, MAX_PATH));
}
