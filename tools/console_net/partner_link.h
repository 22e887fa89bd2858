// `korvane partner --console-link HOST:PORT`: the partner that links a
// running service with a console over TCP.
//
// Every block the service sends (encoded commands, the keep-alive echo) is
// printed and written to the console; every octet from the console goes to
// the service as console data (blocks cut by CConsoleFramer: at most 65,535
// octets, the console's keep-alive as a 13-octet block of its own, no other
// block of 13). Command lines come from the arguments and, with `-`, from
// standard input, one per line. Reports print as they arrive. A console that
// closes or cannot be reached is reconnected with a bounded backoff; a
// service that is gone (restarting) is retried the same way, the block it did
// not take waiting at the head of the queue, so nothing is lost or sent twice.
// Without command lines and without `-` the link runs until SIGINT or
// SIGTERM; otherwise it ends once every input is sent and nothing has
// happened for the wait time.
#pragma once

#include "tools/console_net/console_link.h"

#include "host/protocol.h"

#include <string>
#include <vector>

struct PartnerLinkOptions
{
    ConsoleLinkOptions link;
    std::string name = kPartnerWindowName; // the partner's endpoint
    std::string service;                   // empty: the one running Korvane_* service
    std::vector<std::string> commands;
    bool readStdin = false;
    bool json = false;
    int waitMs = 300;
};

// Runs the link; the exit status: 0 done, 1 no service or the link or the
// service gave up, 2 usage error.
int RunPartnerLink(const PartnerLinkOptions& options);
