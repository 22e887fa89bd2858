// A partner on the partner library: sends a command, passes the encoded
// message back to the service as a console would answer it (one Set level
// above the partner's path), and sends a keep-alive; prints every event.
//
//   partner_example [--service ARG] [--name NAME]
#include "partner/partner_session.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    CPartnerSessionOptions options; // endpoint TEST_RX, the only service running
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--service") == 0)
            options.service = argv[i + 1];
        else if (std::strcmp(argv[i], "--name") == 0)
            options.endpoint = argv[i + 1];
    }

    CPartnerSession session;
    std::vector<uint8_t> encoded;
    session.SetEventHandler([&encoded](const CPartnerEvent& event) {
        if (event.kind == CPartnerEvent::Encoded) {
            std::printf("encoded %zu octets\n", event.octets.size());
            encoded = event.octets; // events hold copies: keeping them is fine
        } else if (event.kind == CPartnerEvent::Report) {
            std::printf("report: %s\n", event.report.line.c_str());
        } else if (event.kind == CPartnerEvent::KeepAliveEcho) {
            std::printf("keep-alive echoed%s\n", event.unchanged ? "" : " (changed)");
        }
    });
    if (session.Open(options) != EPartnerStatus::Ok) {
        std::fprintf(stderr, "partner_example: %s\n", session.LastError().c_str());
        return 2;
    }
    std::printf("service %s\n", session.ServiceName().c_str());

    // The console answers the partner's 1,2,3,4,0,75 with its own level 7
    // above: the tree the service builds for 7,1,2,3,4,75. Its report is
    // 1,2,3,0,4,75 (see docs/PARTNER.md).
    EPartnerStatus status = session.SendCommand("7,1,2,3,4,75");
    if (status == EPartnerStatus::Ok)
        status = session.SendConsoleData(encoded.data(), encoded.size());
    if (status == EPartnerStatus::Ok)
        status = session.SendKeepAlive();
    if (status != EPartnerStatus::Ok) {
        std::fprintf(stderr, "partner_example: %s\n", session.LastError().c_str());
        return 1;
    }
    return 0;
}
