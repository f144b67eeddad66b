// Resource identifiers of the browser's dialogs and images. The module's resource script defines them
// (the views load them from the module), so the numbers must not collide with the module's own.
#pragma once

#define IDD_CONFIRM 202
#define IDD_WALK_PROGRESS 210

#define IDI_FOLDER 204
#define IDI_DOCUMENT 205
#define IDI_FOLDER_OPEN 206
#define IDI_DRIVE 207

// Controls of the Confirm dialog.
#define IDC_CONFIRM_TEXT 204
#define IDC_CONFIRM_YES 205
#define IDC_CONFIRM_YES_ALL 206
#define IDC_CONFIRM_NO 207
#define IDC_CONFIRM_NO_ALL 208
// The progress of a long walk of the device's directories.
#define IDC_WALK_TEXT 211
