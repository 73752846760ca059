/*
** The run-time's text streams and text-mode descriptors, as the delete at
** restart reads and writes wininit.ini with them.
*/
#include "check.h"
#include "stage.h"

#include <cerrno>
#include <vector>

using stage::Dir;

namespace {

std::string Lines(const std::string& path, const char* mode, int size = 64) {
    FILE* f = fopen(path.c_str(), mode);
    if (!f) return "<no file>";
    std::string lines;
    char buf[256];
    while (fgets(buf, size, f))
        lines += std::string(buf) + "|";
    CHECK_EQ(fclose(f), 0);
    return lines;
}

} // namespace

CASE(TextStreamsTurnCrLfIntoLfAndStopAtCtrlZ) {
    std::string w = Dir() + "w.ini";
    stage::Put(w, "a\r\nb\rc\n\r\nlast\x1A after\r\n");
    CHECK_EQ(Lines(w, "r"), "a\n|b\rc\n|\n|last|");
    CHECK_EQ(Lines(w, "rb"), "a\r\n|b\rc\n|\r\n|last\x1A after\r\n|");
    CHECK_EQ(Lines(w, "r", 3), "a\n|b\r|c\n|\n|la|st|"); // at most size - 1 characters
    CHECK_EQ(Lines(Dir() + "none.ini", "r"), "<no file>");
    CHECK_EQ(errno, ENOENT);
    // An open stream keeps the file from being deleted.
    FILE* f = fopen(w.c_str(), "r");
    CHECK(f != nullptr);
    CHECK(!DeleteFileA(w.c_str()));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    if (f) fclose(f);
    CHECK(DeleteFileA(w.c_str()));
    // A file another program holds cannot be opened.
    stage::Put(w, "x");
    void* holder = stage::HoldWithoutSharing(w);
    CHECK(fopen(w.c_str(), "r") == nullptr);
    CHECK_EQ(errno, EACCES);
    stage::Release(holder);
}

CASE(TextDescriptorsTranslateAndNewFilesTakeTheirPermission) {
    std::string t = Dir() + "t.txt";
    int fd = _open(t.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
    CHECK(fd != -1);
    CHECK_EQ(_write(fd, "a\nb", 3), 3);
    _close(fd);
    CHECK_EQ(stage::Get(t), "a\r\nb");
    // Binary append writes the bytes as they are, at the end.
    fd = _open(t.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY);
    CHECK_EQ(_write(fd, "\nc", 2), 2);
    _close(fd);
    CHECK_EQ(stage::Get(t), "a\r\nb\nc");
    // Created without write permission: the new file is read-only.
    std::string ro = Dir() + "ro.txt";
    fd = _open(ro.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY, _S_IREAD);
    CHECK(fd != -1);
    CHECK_EQ(_write(fd, "x", 1), 1);
    _close(fd);
    CHECK(GetFileAttributesA(ro.c_str()) & FILE_ATTRIBUTE_READONLY);
    CHECK(!DeleteFileA(ro.c_str()));
    SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_NORMAL);
}
