// The view's server on Windows: not built. Debian's cpp-httplib ships its
// implementation as a compiled Linux library (libcpp-httplib.so); its header
// alone does not serve, and there is no Windows build of it to link.
#include "view/server/view_server.h"

class CViewServer::Impl
{};

CViewServer::CViewServer(CViewState&, CViewServerOptions, CViewCommandSink) {}

CViewServer::~CViewServer() = default;

bool CViewServer::Start(std::string& error)
{
    error = "this build has no HTTP server: Debian's cpp-httplib is a Linux library";
    return false;
}

uint16_t CViewServer::Port() const
{
    return 0;
}

std::string CViewServer::Address() const
{
    return std::string();
}

void CViewServer::Stop() {}
