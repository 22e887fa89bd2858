#include "view/view_access.h"

#include "protocol/hex_text.h"

#include <algorithm>
#include <random>

std::vector<std::string> ViewHostNames(const std::string& address, uint16_t port)
{
    const std::string suffix = std::to_string(port);
    const auto name = [&](const std::string& host, bool bracket) {
        std::string text;
        if (bracket)
            text.append(1, '[').append(host).append(1, ']');
        else
            text.append(host);
        return text.append(1, ':').append(suffix);
    };
    std::vector<std::string> names;
    names.push_back(name(address, address.find(':') != std::string::npos));
    names.push_back(name("localhost", false));
    if (IsLoopbackAddress(address)) {
        names.push_back(name("127.0.0.1", false));
        names.push_back(name("::1", true));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

bool IsLoopbackAddress(const std::string& address)
{
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

namespace {

// Compares without stopping at the first difference.
bool SameToken(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

bool Unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] != '%') {
            out += text[i];
        } else {
            if (i + 2 >= text.size())
                return false;
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out += char(high * 16 + low);
            i += 2;
        }
    }
    return true;
}

} // namespace

bool ParseViewTarget(std::string_view target, CViewTarget& out)
{
    out = CViewTarget();
    if (target.empty() || target[0] != '/')
        return false;
    const size_t mark = target.find('?');
    out.path = std::string(target.substr(0, mark));
    if (mark == std::string_view::npos)
        return true;
    std::string_view query = target.substr(mark + 1);
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
        if (pair.empty())
            continue;
        const size_t equals = pair.find('=');
        std::string key;
        std::string value;
        if (!Unescape(pair.substr(0, equals), key) ||
            (equals != std::string_view::npos && !Unescape(pair.substr(equals + 1), value)))
            return false;
        out.query.emplace(std::move(key), std::move(value));
    }
    return true;
}

CViewVerdict CheckViewRequest(const std::vector<std::string>& hosts, const std::string& token,
                              const CViewRequestFacts& request)
{
    const std::string host = Lower(request.host);
    if (!request.hasHost || std::find(hosts.begin(), hosts.end(), host) == hosts.end())
        return {403, "refused: the Host '" + request.host + "' is not this server's name"};
    if (request.hasOrigin) {
        const std::string origin = Lower(request.origin);
        bool own = false;
        for (const std::string& name : hosts)
            own = own || origin == "http://" + name;
        if (!own)
            return {403, "refused: a request from another origin ('" + request.origin + "')"};
    }
    const std::string site = Lower(request.fetchSite);
    if (site == "cross-site" || site == "same-site")
        return {403, "refused: a " + site + " request"};
    if (request.method == "GET" && request.path == "/")
        return {};
    if (request.token.empty())
        return {403, "refused: the request carries no token (see the address the view printed)"};
    if (!SameToken(request.token, token))
        return {403, "refused: wrong token"};
    return {};
}

std::string NewViewToken()
{
    std::random_device random;
    static const char kDigits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        uint32_t bits = random();
        for (int j = 0; j < 8; ++j, bits >>= 4)
            token += kDigits[bits & 15];
    }
    return token;
}
