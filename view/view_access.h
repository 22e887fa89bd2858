// Who may use the view's HTTP interface: the checks every request passes
// before it is handled, as plain functions (no sockets), and the token.
//
// A request is refused (403, one-line reason) when
//   - its Host header is not one of the names it is served under (the listen
//     address, localhost, 127.0.0.1 for a loopback address, each with the
//     port): another name means DNS rebinding;
//   - it carries an Origin other than http://HOST of those names, or a
//     Sec-Fetch-Site of "cross-site" or "same-site": a request from another
//     site;
//   - it is not the page itself (GET /) and does not carry the token
//     (query "token" or header "X-Korvane-Token").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// A request target in origin form, "/path?key=value&key", split: the path as
// it stands, the query's parameters percent-decoded ("+" a blank; a key
// without "=" has an empty value; the first of a repeated key holds).
struct CViewTarget
{
    std::string path;
    std::map<std::string, std::string> query;
};

// False for a target that does not start with "/" or has a bad escape.
bool ParseViewTarget(std::string_view target, CViewTarget& out);

struct CViewRequestFacts
{
    std::string method;
    std::string path;
    bool hasHost = false;
    std::string host;
    bool hasOrigin = false;
    std::string origin;
    std::string fetchSite;
    std::string token; // from the query or the header, empty when none
};

struct CViewVerdict
{
    int status = 0; // 0: allowed, else the HTTP status of the refusal
    std::string reason;
};

// The Host header values a server listening on address:port answers to.
std::vector<std::string> ViewHostNames(const std::string& address, uint16_t port);

CViewVerdict CheckViewRequest(const std::vector<std::string>& hosts, const std::string& token,
                              const CViewRequestFacts& request);

// 32 hex digits from the system's random source.
std::string NewViewToken();

// True for an address on the loopback range (127.0.0.0/8, ::1, localhost).
bool IsLoopbackAddress(const std::string& address);
