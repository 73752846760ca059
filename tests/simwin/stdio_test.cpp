/*
** What the simulated run-time streams and descriptors must do the way the
** Microsoft run-time does: text and binary modes, sharing, permissions.
*/
#include "world.h"

class StdioTest : public WorldTest {};

static std::vector<std::string> Lines(const char* path, const char* mode, int size = 64) {
    std::vector<std::string> lines;
    FILE* f = fopen(path, mode);
    if (!f) return {"<no file>"};
    char buf[1024];
    while (fgets(buf, size, f))
        lines.push_back(buf);
    EXPECT_EQ(fclose(f), 0);
    return lines;
}

TEST_F(StdioTest, TextModeTurnsCrLfIntoLfAndStopsAtCtrlZ) {
    simwin::WriteFile("C:\\w.ini", "a\r\nb\rc\n\r\nlast\x1A after\r\n");
    EXPECT_EQ(Lines("c:\\W.INI", "r"), (std::vector<std::string>{"a\n", "b\rc\n", "\n", "last"}));
    EXPECT_EQ(Lines("C:\\w.ini", "rb"),
              (std::vector<std::string>{"a\r\n", "b\rc\n", "\r\n", "last\x1A after\r\n"}));
    // fgets stops after size - 1 characters.
    EXPECT_EQ(Lines("C:\\w.ini", "rt", 3),
              (std::vector<std::string>{"a\n", "b\r", "c\n", "\n", "la", "st"}));
    EXPECT_EQ(Lines("C:\\none.ini", "r"), (std::vector<std::string>{"<no file>"}));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(fopen("C:\\w.ini", "r+"), nullptr);

    FILE* w = fopen("C:\\out.txt", "w");
    ASSERT_NE(w, nullptr);
    fputs("x\ny\n", w);
    fclose(w);
    EXPECT_EQ(simwin::ReadFile("C:\\out.txt"), "x\r\ny\r\n");
    EXPECT_EQ(simwin::OpenStreamCount(), 0u);
}

TEST_F(StdioTest, OpenStreamBlocksDeletionAndFaultsLookLikeErrors) {
    simwin::WriteFile("C:\\w.ini", "one\ntwo\n");
    FILE* f = fopen("C:\\w.ini", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(DeleteFileA("C:\\w.ini"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    char buf[16];
    simwin::FailCall("fgets", ERROR_WRITE_FAULT, 1, 1);
    EXPECT_NE(fgets(buf, sizeof buf, f), nullptr);
    EXPECT_EQ(fgets(buf, sizeof buf, f), nullptr);
    EXPECT_TRUE(ferror(f));
    fclose(f);
    EXPECT_TRUE(DeleteFileA("C:\\w.ini"));

    simwin::StartProcess({"C:\\p.exe", {"C:\\held.ini"}});
    simwin::WriteFile("C:\\held.ini", "x");
    EXPECT_EQ(fopen("C:\\held.ini", "r"), nullptr);
    EXPECT_EQ(errno, EACCES);
}

TEST_F(StdioTest, DescriptorsTranslateInTextModeAndHonourPermissions) {
    int fd = _open("C:\\t.txt", _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
    ASSERT_NE(fd, -1);
    EXPECT_EQ(_write(fd, "a\nb", 3), 3);
    _close(fd);
    EXPECT_EQ(simwin::ReadFile("C:\\t.txt"), "a\r\nb");
    fd = _open("C:\\t.txt", _O_RDONLY);
    char buf[16] = {};
    EXPECT_EQ(_read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "a\nb");
    _close(fd);
    // A CR that ends one read looks ahead; Ctrl+Z ends the text.
    simwin::WriteFile("C:\\z.txt", "a\r\nb\rc\x1A"
                                   "d");
    fd = _open("C:\\z.txt", _O_RDONLY);
    std::string got;
    for (int n; (n = _read(fd, buf, 2)) > 0;)
        got += std::string(buf, n) + "|";
    _close(fd);
    EXPECT_EQ(got, "a\n|b\r|c|");

    // Binary append writes the bytes as they are, at the end.
    fd = _open("C:\\t.txt", _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    EXPECT_EQ(_write(fd, "\nc", 2), 2);
    _close(fd);
    EXPECT_EQ(simwin::ReadFile("C:\\t.txt"), "a\r\nb\nc");

    // Created without write permission: the new file is read-only.
    fd = _open("C:\\ro.txt", _O_WRONLY | _O_CREAT | _O_BINARY, _S_IREAD);
    ASSERT_NE(fd, -1);
    EXPECT_EQ(_write(fd, "x", 1), 1);
    _close(fd);
    EXPECT_TRUE(GetFileAttributesA("C:\\ro.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(_open("C:\\ro.txt", _O_WRONLY | _O_BINARY), -1);
    EXPECT_EQ(errno, EACCES);
}
