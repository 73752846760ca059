/*
** The maker's pages, opened in the browser: the program's one shell start.
*/
#ifndef CLEANPHANTAXIS_MAKER_PAGE_H
#define CLEANPHANTAXIS_MAKER_PAGE_H

enum class MakerPage { Download, Utility };

void OpenMakerPage(MakerPage page);

#endif
