#include "view/server/listen_socket.h"

void PrepareListenSocket(boost::asio::ip::tcp::acceptor& acceptor)
{
    acceptor.set_option(boost::asio::socket_base::reuse_address(true));
}
