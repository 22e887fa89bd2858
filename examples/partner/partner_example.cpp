// A partner in C++ on the partner SDK (korvane_partner.hpp over
// libkorvane-partner / korvane-partner.dll): sends a command, passes the
// encoded message back to the service as a console would answer it (one Set
// level above the partner's path), and sends a keep-alive; prints every
// event.
//
//   partner_example [--service ARG] [--name NAME]
#include "korvane_partner.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    const char* service = nullptr; // the only service running
    const char* name = nullptr;    // TEST_RX
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--service") == 0)
            service = argv[i + 1];
        else if (std::strcmp(argv[i], "--name") == 0)
            name = argv[i + 1];
    }

    std::vector<std::uint8_t> encoded;
    const korvane::EventHandler print = [&encoded](const korvane::Event& event) {
        if (event.kind == korvane::Event::Encoded) {
            std::printf("encoded %zu octets\n", event.octets.size());
            encoded.assign(event.octets.begin(), event.octets.end()); // valid only here: copy
        } else if (event.kind == korvane::Event::Report) {
            std::printf("report: %.*s\n", int(event.report.size()), event.report.data());
        } else if (event.kind == korvane::Event::KeepAliveEcho) {
            std::printf("keep-alive echoed\n");
        }
    };

    try {
        korvane::Partner partner(name, service);
        std::printf("service %s\n", partner.Service().c_str());
        // The console answers the partner's 1,2,3,4,0,75 with its own level 7
        // above: the tree the service builds for 7,1,2,3,4,75. Its report is
        // 1,2,3,0,4,75 (see docs/PARTNER.md).
        partner.SendCommand("7,1,2,3,4,75", print);
        partner.SendConsole(encoded, print);
        partner.SendKeepAlive(print);
    } catch (const korvane::Error& error) {
        std::fprintf(stderr, "partner_example: %s\n", error.what());
        return error.status() == KORVANE_NO_SERVICE ? 2 : 1;
    }
    return 0;
}
