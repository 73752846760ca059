/*
** Numbers of the program's resources and of the controls in its two dialog
** templates. Shared by the resource script and the window code.
*/
#ifndef CLEANPHANTAXIS_RESOURCE_IDS_H
#define CLEANPHANTAXIS_RESOURCE_IDS_H

#define IDI_PROGRAM 128

/* The main window (template 141). */
#define IDD_MAIN 141
#define IDC_MAIN_OK 1070
#define IDC_MAIN_CANCEL 2
#define IDC_SCAN 1052
#define IDC_DOWNLOAD 1053
#define IDC_CLOSE_BOX 1054
#define IDC_STATUS_GROUP 1064
#define IDC_STATUS_LINE 1065
#define IDC_HEADING 1076
#define IDC_BANNER 1068
#define IDC_PRODUCT_LINE 1075
#define IDC_NOTICE_LINE 1072
#define IDC_TITLE_LINE 1074
#define IDC_DOWNLOAD_LINK 1077
#define IDC_UTILITY_LINK 1080
#define IDC_MAKER_LOGO 1085
#define IDC_LOG_GROUP 1034
#define IDC_LOG_LIST 1055

/* The question dialog (template 142). */
#define IDD_MESSAGE 142
#define IDC_ASK_OK 1
#define IDC_ASK_CANCEL 2
#define IDC_ASK_PICTURE 1085
#define IDC_ASK_TEXT 1086
#define IDC_ASK_SINGLE_OK 3
#define IDC_ASK_YES 6
#define IDC_ASK_NO 7

/* Bitmaps: the question pictures and the window skin. */
#define IDB_PICTURE_INFORMATION 152
#define IDB_PICTURE_QUESTION 153
#define IDB_PICTURE_EXCLAMATION 154
#define IDB_PICTURE_STOP 155
#define IDB_SKIN 156

#endif
