/*
** The shell start of the maker's pages: the only ShellExecuteA of the program.
*/
#include "ui/maker_page.h"
#include "ui/main_dialog.h" // MAKER_WEB_HOST and the pages

#include <shellapi.h>
#include <string>

void OpenMakerPage(MakerPage page) {
    const char* path = page == MakerPage::Download ? DOWNLOAD_PAGE : UTILITY_PAGE;
    std::string address = std::string("http://") + MAKER_WEB_HOST + path;
    ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
