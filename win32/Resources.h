// The resource numbers of the window program, shared by zantrel.rc and the code.
#pragma once

#define IDI_ZANTREL 1
// The row marks in RowMark order, MarkOk first: the image list's order.
#define IDI_MARK_FIRST 100
#define IDI_MARK_OK 100
#define IDI_MARK_ERRORS 101
#define IDI_MARK_BUSY 102
#define IDI_MARK_REBUILT 103
#define IDI_MARK_ABORTED 104
#define IDI_MARK_SKIPPED 105
#define IDI_MARK_NOTAVI 106
// The tool bar's pictures, in its buttons' order.
#define IDI_TOOL_FIRST 200
#define IDI_TOOL_CLEAR 200
#define IDI_TOOL_ADD 201
#define IDI_TOOL_REMOVE 202
#define IDI_TOOL_CHECK 203
#define IDI_TOOL_REBUILD 204
#define IDI_TOOL_STOP 205
#define IDI_TOOL_CONFIG 206
// The uninstall dialog and its controls.
#define IDD_UNINSTALL 300
#define IDC_OPTIONS 301
#define IDC_AVIHANDLER 302
#define IDC_SETTINGS 303
// The About window's banner.
#define IDB_BANNER 400
