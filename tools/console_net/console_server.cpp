#include "tools/console_net/console_server.h"

#include <asio/connect.hpp>
#include <asio/ip/address.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <array>
#include <chrono>
#include <deque>

class CConsoleServer::Connection : public std::enable_shared_from_this<Connection>
{
public:
    Connection(CConsoleServer& server, asio::ip::tcp::socket socket, CConsoleSimulator::ClientId id)
        : m_server(server), m_socket(std::move(socket)), m_id(id), m_delay(server.m_io),
          m_keepAlive(server.m_io)
    {}

    void Start()
    {
        Read();
        ArmKeepAlive();
    }

    // Queues one message with the configured faults.
    void Queue(const std::vector<uint8_t>& message)
    {
        if (m_closed)
            return;
        const ConsoleServerOptions& options = m_server.m_options;
        bool first = true;
        if (options.garbage) {
            std::uniform_int_distribution<int> count(1, 16);
            std::uniform_int_distribution<int> octet(0, 254);
            Piece junk;
            for (int i = count(m_server.m_random); i > 0; --i) {
                const int value = octet(m_server.m_random);
                junk.octets.push_back(uint8_t(value >= 0x7F ? value + 1 : value));
            }
            junk.delayMs = options.delayMs;
            m_queue.push_back(std::move(junk));
            first = false;
        }
        const size_t chunk = options.chunk ? options.chunk : message.size();
        for (size_t at = 0; at < message.size(); at += chunk) {
            Piece piece;
            piece.octets.assign(message.begin() + at,
                                message.begin() + std::min(message.size(), at + chunk));
            piece.delayMs = first ? options.delayMs : 0;
            first = false;
            m_queue.push_back(std::move(piece));
        }
        Write();
    }

    // Closes at once; the simulator forgets the client.
    void Close(const std::string& reason)
    {
        if (m_closed)
            return;
        // Forget below may drop the server's reference to this connection.
        const auto self = shared_from_this();
        m_closed = true;
        std::error_code ignored;
        m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
        m_delay.cancel();
        m_keepAlive.cancel();
        m_queue.clear();
        m_server.m_simulator.Disconnect(m_id, reason);
        m_server.Forget(m_id);
    }

private:
    struct Piece
    {
        std::vector<uint8_t> octets;
        uint32_t delayMs = 0;
    };

    void Read()
    {
        auto self = shared_from_this();
        m_socket.async_read_some(asio::buffer(m_buffer),
                                 [this, self](std::error_code error, size_t got) {
            if (m_closed)
                return;
            if (error) {
                Close(error == asio::error::eof ? "closed by the client" : error.message());
                return;
            }
            m_handled += m_server.m_simulator.Receive(m_id, m_buffer.data(), got);
            const size_t dropAfter = m_server.m_options.dropAfter;
            if (dropAfter && m_handled >= dropAfter) {
                // No more reading: the answers go out, then the connection.
                m_dropping = true;
                if (!m_writing && m_queue.empty())
                    Close("dropped after " + std::to_string(m_handled) + " messages");
                return;
            }
            Read();
        });
    }

    void Write()
    {
        if (m_writing || m_closed)
            return;
        if (m_queue.empty()) {
            if (m_dropping)
                Close("dropped after " + std::to_string(m_handled) + " messages");
            return;
        }
        m_writing = true;
        auto self = shared_from_this();
        const uint32_t delay = m_queue.front().delayMs;
        if (delay) {
            m_queue.front().delayMs = 0;
            m_delay.expires_after(std::chrono::milliseconds(delay));
            m_delay.async_wait([this, self](std::error_code error) {
                m_writing = false;
                if (!error)
                    Write();
            });
            return;
        }
        asio::async_write(m_socket, asio::buffer(m_queue.front().octets),
                          [this, self](std::error_code error, size_t) {
            m_writing = false;
            if (m_closed)
                return;
            if (error) {
                Close(error.message());
                return;
            }
            m_queue.pop_front();
            Write();
        });
    }

    void ArmKeepAlive()
    {
        const uint32_t seconds = m_server.m_options.keepAliveSeconds;
        if (!seconds || m_closed)
            return;
        auto self = shared_from_this();
        m_keepAlive.expires_after(std::chrono::seconds(seconds));
        m_keepAlive.async_wait([this, self](std::error_code error) {
            if (error || m_closed)
                return;
            const std::vector<uint8_t> octets = m_server.m_simulator.KeepAlive(m_id);
            if (!octets.empty())
                Queue(octets);
            ArmKeepAlive();
        });
    }

    CConsoleServer& m_server;
    asio::ip::tcp::socket m_socket;
    CConsoleSimulator::ClientId m_id;
    asio::steady_timer m_delay;
    asio::steady_timer m_keepAlive;
    std::array<uint8_t, 4096> m_buffer{};
    std::deque<Piece> m_queue;
    size_t m_handled = 0;
    bool m_writing = false;
    bool m_dropping = false;
    bool m_closed = false;
};

CConsoleServer::CConsoleServer(asio::io_context& io, CConsoleSimulator& simulator,
                               ConsoleServerOptions options)
    : m_io(io), m_simulator(simulator), m_options(std::move(options)), m_acceptor(io),
      m_random(std::random_device{}())
{
    m_simulator.onSend = [this](CConsoleSimulator::ClientId client, CConsoleSimulator::OutputKind,
                                const std::vector<uint8_t>& message) { Send(client, message); };
}

CConsoleServer::~CConsoleServer()
{
    Stop();
    m_simulator.onSend = nullptr;
}

bool CConsoleServer::Listen(std::string& error)
{
    std::error_code failure;
    const asio::ip::address address = asio::ip::make_address(m_options.address, failure);
    if (failure) {
        error = "'" + m_options.address + "' is not an IP address";
        return false;
    }
    const asio::ip::tcp::endpoint endpoint(address, m_options.port);
    m_acceptor.open(endpoint.protocol(), failure);
    if (!failure)
        m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), failure);
    if (!failure)
        m_acceptor.bind(endpoint, failure);
    if (!failure)
        m_acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on " + m_options.address + ":" + std::to_string(m_options.port) +
                ": " + failure.message();
        std::error_code ignored;
        m_acceptor.close(ignored);
        return false;
    }
    Accept();
    return true;
}

std::string CConsoleServer::LocalAddress() const
{
    std::error_code failure;
    const asio::ip::tcp::endpoint endpoint = m_acceptor.local_endpoint(failure);
    if (failure)
        return "";
    const std::string host = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
           std::to_string(endpoint.port());
}

uint16_t CConsoleServer::LocalPort() const
{
    std::error_code failure;
    const asio::ip::tcp::endpoint endpoint = m_acceptor.local_endpoint(failure);
    return failure ? 0 : endpoint.port();
}

void CConsoleServer::Accept()
{
    m_acceptor.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
        if (m_stopped)
            return;
        if (error) {
            Log("accept failed: " + error.message());
        } else {
            std::error_code ignored;
            socket.set_option(asio::ip::tcp::no_delay(true), ignored);
            const asio::ip::tcp::endpoint peer = socket.remote_endpoint(ignored);
            const std::string name = peer.address().to_string() + ":" + std::to_string(peer.port());
            const CConsoleSimulator::ClientId id = m_simulator.Connect(name);
            auto connection = std::make_shared<Connection>(*this, std::move(socket), id);
            m_connections.emplace(id, connection);
            connection->Start();
        }
        Accept();
    });
}

void CConsoleServer::Send(CConsoleSimulator::ClientId client, const std::vector<uint8_t>& message)
{
    const auto found = m_connections.find(client);
    if (found != m_connections.end())
        found->second->Queue(message);
}

void CConsoleServer::Forget(CConsoleSimulator::ClientId client)
{
    m_connections.erase(client);
}

void CConsoleServer::Stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    std::error_code ignored;
    m_acceptor.close(ignored);
    // Close removes the connection from the map.
    while (!m_connections.empty()) {
        std::shared_ptr<Connection> connection = m_connections.begin()->second;
        connection->Close("console stopping");
    }
}

void CConsoleServer::Log(const std::string& line)
{
    if (onLog)
        onLog(line);
}

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, std::string& error)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        error = "'" + text + "' is not ADDR:PORT";
        return false;
    }
    std::string name = text.substr(0, colon);
    if (name.front() == '[') {
        if (name.back() != ']' || name.size() < 3) {
            error = "'" + text + "' is not ADDR:PORT";
            return false;
        }
        name = name.substr(1, name.size() - 2);
    } else if (name.find(':') != std::string::npos) {
        error = "'" + text + "': write an IPv6 address as [ADDR]:PORT";
        return false;
    }
    const std::string digits = text.substr(colon + 1);
    unsigned long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9' || value > 65535) {
            error = "'" + digits + "' is not a port (0 to 65535)";
            return false;
        }
        value = value * 10 + unsigned(c - '0');
    }
    if (value > 65535) {
        error = "'" + digits + "' is not a port (0 to 65535)";
        return false;
    }
    host = name;
    port = uint16_t(value);
    return true;
}
