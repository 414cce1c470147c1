// Resource identifiers of the launcher window; shared by the resource
// script and the code.
#pragma once

#define IDD_PATCHEXPCLIENT_DIALOG 102
#define IDR_MAINFRAME 128

#define IDB_BACKGROUND 141
#define IDB_PLAY_HOVER 142
#define IDB_CLOSE_DISABLED 143
#define IDB_CLOSE_NORMAL 144
#define IDB_CLOSE_HOVER 145
#define IDB_MINIMISE_DISABLED 146
#define IDB_MINIMISE_NORMAL 147
#define IDB_MINIMISE_HOVER 148
#define IDB_PLAY_DISABLED 149
#define IDB_PLAY_NORMAL 150

#define IDC_TOTAL_BAR 1000
#define IDC_STATUS 1001
