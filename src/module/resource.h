// Resource identifiers of the module; the browser's own are included, since the module's resource script
// defines those too.
#pragma once

#include "browser/resource.h"

#define IDS_DORVEX 1
#define IDS_DORVEX_PPG 2
#define IDS_DORVEX_PPG_CAPTION 200
#define IDS_DELETE_FILE 201
#define IDS_SEND_FILES 202
#define IDS_NEW_DIRECTORY 203
#define IDS_COPY_FILES 204
#define IDS_PASTE_FILES 205
#define IDS_PLUGIN_NAME 32000
#define IDS_PLUGIN_DESCRIPTION 32001

#define IDD_ABOUTBOX_DORVEX 1
#define IDD_PROPPAGE_DORVEX 200

#define IDI_ABOUTDLL 1
#define IDB_DORVEX 32000

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
