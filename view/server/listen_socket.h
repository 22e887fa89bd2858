// How the view's listening socket is prepared before it binds, per platform.
//
// On Linux the address may be taken again at once after the view stops,
// while its old connections linger (SO_REUSEADDR). On Windows that option
// would let a second program bind the same port beside a running view, so
// nothing is set there and the system's default (refuse a port in use)
// holds.
#pragma once

#include <boost/asio/ip/tcp.hpp>

void PrepareListenSocket(boost::asio::ip::tcp::acceptor& acceptor);
