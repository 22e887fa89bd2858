// Korvane.exe: the host window, its menu and the About box around the host
// core. The window is bound to the host core as every host window is
// (host/host_window.h); everything else it needs lives in one CKorvaneApp,
// reachable from the host state's owner.
#pragma once

#include "host/host_state.h"
#include "host/report_reader.h"
#include "winapi.h"

#include <memory>

// Size of the class name and window name fields (99 characters and a NUL).
constexpr int kNameFieldSize = 100;

// The exit code when the host window cannot be created.
constexpr int kExitNoWindow = 1;

// The text drawn in the host window's client area.
constexpr const char kTitleText[] = "Pallix Ember Interface v1.15";

struct CKorvaneApp
{
    HINSTANCE instance = nullptr;
    char className[kNameFieldSize] = {};
    char windowName[kNameFieldSize] = {};
    // The window's menu: the Debug item's check mark is kept here.
    HMENU menu = nullptr;
    const char* title = nullptr;
    // True while the About box is open.
    bool aboutOpen = false;
    // The partner protocol state; host.reader points at reader, host.owner
    // at this.
    CHostState host;
    std::unique_ptr<CReportReader> reader;
};

// "Korvane_<arguments>", cut so that it fits the name field.
void FormatWindowName(char (&name)[kNameFieldSize], const char* commandLine);

// Loads the optional crash-report library from the program's directory and
// writes its trace line when it loads.
void LoadCrashReportLibrary();

// The handlers the dispatcher calls for WM_PAINT and WM_COMMAND.
LRESULT OnMainPaint(CHostState& host, HWND window);
LRESULT OnMainCommand(CHostState& host, HWND window, WPARAM wParam, LPARAM lParam);

// The About box (dialog IDD_ABOUTBOX).
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
