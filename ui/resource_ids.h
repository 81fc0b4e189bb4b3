// Identifiers shared by the resource script and the program.
#pragma once

#define IDI_MAIN 100

#define IDD_MAIN 200
#define IDD_QUERY 201
#define IDD_IMPORT 202
#define IDD_EXPORT 203

#define IDC_PATH 300
#define IDC_BROWSE 303
// windows.h names a system cursor so; the page icon takes the name here.
#undef IDC_ICON
#define IDC_ICON 304
#define IDC_TAB 307
#define IDC_ABOUT 308
#define IDC_NUMBER 311
#define IDC_AREA 312
#define IDC_TYPE 313
#define IDC_TITLE 314
// Not ours: the id the system gives a message box's text, which the tests read.
#define IDC_MESSAGE_TEXT 0xFFFF

#define IDS_FILTER 800
#define IDS_SAVE_PROMPT 801
#define IDS_STATISTICS 802
#define IDS_ADD_OK 803
#define IDS_ADD_FAILED 804
#define IDS_SAVE_FAILED 805
#define IDS_IMPORT_FAILED 806
#define IDS_EXPORT_OK 807
#define IDS_EXPORT_FAILED 808
#define IDS_BUTTON_ADD 810
#define IDS_BUTTON_IMPORT 811
#define IDS_BUTTON_EXPORT 812

// The main window's command that shows the statistics box.
#define IDM_STATISTICS 202
