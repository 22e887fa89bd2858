// Resource identifiers of Korvane.exe, shared by Korvane.rc and the code.
#pragma once

// Menu and accelerator table of the host window.
#define IDR_MAINFRAME 109

// String table.
#define IDS_APP_CLASS 109 // the window class name, "Korvane"

// Icons: 32 x 32 and 16 x 16 for the class and the About box; 16 x 16 small.
#define IDI_KORVANE 107
#define IDI_SMALL 108

// Menu commands.
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_DEBUG 32771

// The About box and its controls (OK is IDOK, 1).
#define IDD_ABOUTBOX 103
#define IDC_ABOUT_ICON 2

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
