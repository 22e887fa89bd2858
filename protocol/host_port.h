// "ADDR:PORT" as every option that names a TCP address takes it: the
// console link's console, the simulator's and the view's listening address.
#pragma once

#include <cstdint>
#include <string>

// Parses "ADDR:PORT" (a name or IPv4 address, or [IPv6]:PORT); false with
// the reason.
bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, std::string& error);
