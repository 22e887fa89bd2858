#include "view/server/listen_socket.h"

void PrepareListenSocket(boost::asio::ip::tcp::acceptor&) {}
