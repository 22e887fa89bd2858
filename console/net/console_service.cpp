#include "console/net/console_service.h"

#include "console/state_file.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

void Line(const std::string& text)
{
    std::fprintf(stderr, "korvane console: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace

int RunConsoleService(const ConsoleRunOptions& options,
                      const std::function<const char*()>& stopRequested)
{
    CParameterStore store;
    if (!options.stateFile.empty()) {
        std::error_code ignored;
        if (options.save && !std::filesystem::exists(options.stateFile, ignored)) {
            Line("no state file " + options.stateFile + " yet: starting without parameters");
        } else {
            std::string error;
            if (!LoadStateFile(options.stateFile, store, error)) {
                Line(error);
                return 2;
            }
        }
    }

    asio::io_context io;
    CConsoleSimulator simulator(store, options.top);
    if (options.verbose)
        simulator.onLog = [](const std::string& line) { Line(line); };
    CConsoleServer server(io, simulator, options.server);
    server.onLog = [](const std::string& line) { Line(line); };
    std::string error;
    if (!server.Listen(error)) {
        Line(error);
        return 2;
    }

    asio::steady_timer poll(io);
    std::function<void()> look = [&] {
        poll.expires_after(std::chrono::milliseconds(50));
        poll.async_wait([&](std::error_code failure) {
            if (failure)
                return;
            if (const char* why = stopRequested ? stopRequested() : nullptr) {
                Line(std::string("stopping (") + why + ")");
                server.Stop();
                io.stop();
                return;
            }
            look();
        });
    };
    look();

    Line("listening on " + server.LocalAddress() + "; " + std::to_string(store.Size()) +
         (store.Size() == 1 ? " parameter" : " parameters") + ", top level " +
         std::to_string(options.top));
    io.run();
    server.Stop();

    if (options.save && !options.stateFile.empty()) {
        if (!SaveStateFile(options.stateFile, store, error)) {
            Line(error);
            return 2;
        }
        Line("saved " + std::to_string(store.Size()) +
             (store.Size() == 1 ? " parameter" : " parameters") + " to " + options.stateFile);
    }
    return 0;
}
