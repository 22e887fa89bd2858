// Korvane.exe: the host window, its menu and the About box around the host
// core. Everything the window needs lives in one CKorvaneApp, reachable
// from the window through GWLP_USERDATA.
#pragma once

#include "host/host_state.h"
#include "host/report_reader.h"
#include "winapi.h"

#include <memory>

// Size of the class name and window name fields (99 characters and a NUL).
constexpr int kNameFieldSize = 100;

// The text drawn in the host window's client area.
constexpr const char kTitleText[] = "Pallix Ember[Studer] Interface v1.15";

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
    // The partner protocol state; host.reader points at reader.
    CHostState host;
    std::unique_ptr<CReportReader> reader;
};

// "Korvane_<arguments>", cut so that it fits the name field.
void FormatWindowName(char (&name)[kNameFieldSize], const char* commandLine);

// Loads the optional crash-report library from the program's directory and
// writes its trace line when it loads.
void LoadCrashReportLibrary();

// The host window's procedure: finds the window's CKorvaneApp and hands the
// message to the host dispatcher.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The handlers the dispatcher calls for WM_PAINT and WM_COMMAND.
LRESULT OnMainPaint(CHostState& host, HWND window);
LRESULT OnMainCommand(CHostState& host, HWND window, WPARAM wParam, LPARAM lParam);

// The About box (dialog IDD_ABOUTBOX).
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
