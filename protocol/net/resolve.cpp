#include "protocol/net/resolve.h"

std::vector<asio::ip::tcp::endpoint> ResolveHostPort(asio::io_context& io, const std::string& host,
                                                     uint16_t port, std::string& error)
{
    std::error_code failure;
    asio::ip::tcp::resolver resolver(io);
    const auto results = resolver.resolve(host, std::to_string(port), failure);
    std::vector<asio::ip::tcp::endpoint> endpoints;
    if (failure) {
        error = "cannot resolve " + host + ": " + failure.message();
        return endpoints;
    }
    for (const auto& entry : results)
        endpoints.push_back(entry.endpoint());
    if (endpoints.empty())
        error = "cannot resolve " + host + ": no address";
    return endpoints;
}
