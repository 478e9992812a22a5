// Resource ids shared by the resource script and the code that loads the dialog.
#pragma once

#define IDD_UPDATEUTILITY_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BANNER 135
// The banner drawn for 125, 150, 175 and 200 % display scale (IDB_BANNER is 100 %).
#define IDB_BANNER_125 136
#define IDB_BANNER_150 137
#define IDB_BANNER_175 138
#define IDB_BANNER_200 139

#define IDS_WELCOME 1
#define IDS_INSTRUCTIONS 2
#define IDS_WARNING 3

#define IDC_UPDATE 1002
#define IDC_REFRESH_LIST 1004
#define IDC_SOURCE_PATH 1005
#define IDC_BROWSE 1006
#define IDC_EQUIPMENT_LIST 1007
#define IDC_PROGRESS 1014
#define IDC_STATUS 1015
#define IDC_WELCOME 1020
#define IDC_INSTRUCTIONS 1021
#define IDC_WARNING 1026

// The title-bar menu's own command: below 0xF000, the low four bits clear.
#define IDM_OPEN_LOG_FOLDER 0x0010

// Neither windows.h nor the resource compiler defines it.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
