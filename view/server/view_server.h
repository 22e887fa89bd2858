// CViewServer: the HTTP interface of `korvane view`, over Boost.Beast
// (header-only, so the same server builds for Linux and Windows).
//
// Serves the page (compiled into the binary from view/web/) at "/", and
// under /api/ the state, an event stream (Server-Sent Events: "state" with
// the whole state first, then "update"s, see CViewState), the exports, the
// labels, and, unless read-only, sets, polls and command lines, which go to
// the command sink. Every request passes the checks of view_access.h first.
// Bodies above maxBodyOctets get 413; bad JSON 400; unknown paths 404; each
// refusal a one-line text reason. At most the state's maxPages event
// streams at once (503 for a further one); a stream whose page does not read
// for writeTimeoutMs is dropped (the page reconnects and gets the whole
// state).
//
// Requests on a connection are read within 5 s; a connection idle for 5 s
// is closed. Headers are bounded to 16 KiB.
//
// Threads: Start() binds at once and accepts on a thread of its own; each
// connection is served on a thread of its own, at most the state's maxPages
// + 8 at once (a further one gets 503 and is closed). Stop() (or the
// destructor) ends every stream and connection and joins their threads. The
// sink is called on a connection's thread.
#pragma once

#include "view/view_state.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct CViewServerOptions
{
    std::string address = "127.0.0.1";
    uint16_t port = 8080; // 0: a free one
    std::string token;
    bool strict = false;
    size_t maxBodyOctets = size_t(8) << 20;
    // The largest body of a set, a poll, a command line or a label.
    size_t maxSmallBodyOctets = 16384;
    int writeTimeoutMs = 5000;
};

// Sends a command line to the console through the service.
using CViewCommandSink = std::function<void(const std::string& line)>;

class CViewServer
{
public:
    // Without a sink the view is read-only: sets, polls and command lines
    // get 403.
    CViewServer(CViewState& state, CViewServerOptions options, CViewCommandSink sink);
    ~CViewServer();
    CViewServer(const CViewServer&) = delete;
    CViewServer& operator=(const CViewServer&) = delete;

    // Binds the address and starts serving; false with the reason (also on
    // a platform without the server).
    bool Start(std::string& error);
    uint16_t Port() const;
    // The page's full address, with the token.
    std::string Address() const;
    void Stop();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
