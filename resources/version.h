/*
** The program's name, version and maker, shared by its version resource and
** the window's notice line. Plain #defines: the resource compiler reads
** this file too.
*/
#ifndef CLEANPHANTAXIS_VERSION_H
#define CLEANPHANTAXIS_VERSION_H

#define PRODUCT_NAME "CleanPhantaxis"
#define PRODUCT_DESCRIPTION "CleanPhantaxis - removal tool for the W32/Phantaxis family"
#define PRODUCT_FILE "CleanPhantaxis.exe"
#define PRODUCT_VERSION 1, 0, 0, 0
#define PRODUCT_VERSION_TEXT "1.0.0.0"
#define MAKER_NAME "Kelvora Software"
#define NOTICE_LINE "Copyright (c) 2026 Kelvora Software. All rights reserved."

#endif
