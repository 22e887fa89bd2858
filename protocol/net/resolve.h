// Resolving a host name or address and port on Asio, as the console link
// and the simulator's server both do.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <string>
#include <vector>

// The endpoints a host name or address and port stand for; empty with the
// reason ("cannot resolve HOST: ...") when the name does not resolve.
std::vector<asio::ip::tcp::endpoint> ResolveHostPort(asio::io_context& io, const std::string& host,
                                                     uint16_t port, std::string& error);
