// Resource identifiers of the module.
#pragma once

#define IDS_DORVEX 1
#define IDS_DORVEX_PPG 2
#define IDS_DORVEX_PPG_CAPTION 200
#define IDS_DELETE_FILE 201
#define IDS_SEND_FILES 202
#define IDS_NEW_DIRECTORY 203
#define IDS_PLUGIN_NAME 32000
#define IDS_PLUGIN_DESCRIPTION 32001

#define IDD_ABOUTBOX_DORVEX 1
#define IDD_PROPPAGE_DORVEX 200
#define IDD_CONFIRM 202
#define IDD_WALK_PROGRESS 210

#define IDI_ABOUTDLL 1
#define IDI_FOLDER 204
#define IDI_DOCUMENT 205
#define IDI_FOLDER_OPEN 206
#define IDI_DRIVE 207
#define IDB_DORVEX 32000

// Controls of the Confirm dialog.
#define IDC_CONFIRM_TEXT 204
#define IDC_CONFIRM_YES 205
#define IDC_CONFIRM_YES_ALL 206
#define IDC_CONFIRM_NO 207
#define IDC_CONFIRM_NO_ALL 208
// The progress of a long walk of the device's directories.
#define IDC_WALK_TEXT 211

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
