// `korvane console` as a whole: loads the state file, listens, logs, runs
// until asked to stop, stops every connection and saves the state. The
// program catches the signals; this only asks whether to stop.
#pragma once

#include "console/net/console_server.h"

#include <cstdint>
#include <functional>
#include <string>

struct ConsoleRunOptions
{
    ConsoleServerOptions server;
    uint32_t top = 7;
    std::string stateFile; // empty: start with no parameters
    bool save = false;     // write the parameters back to stateFile on exit
    bool verbose = false;  // one line per event on standard error
};

// Runs the console until stopRequested() returns why ("SIGINT", "SIGTERM";
// asked every 50 ms from the console's thread, nullptr: go on); returns the
// exit status (0 after a clean stop, 2 when the state file or the address
// cannot be used). Standard error gets "korvane console: listening on
// ADDR:PORT ..." once it accepts clients, and "stopping (WHY)" at the stop.
int RunConsoleService(const ConsoleRunOptions& options,
                      const std::function<const char*()>& stopRequested);
