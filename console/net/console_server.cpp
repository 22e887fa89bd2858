#include "console/net/console_server.h"

#include "ember/ber/boundary_scanner.h"
#include "protocol/backoff.h"
#include "protocol/net/resolve.h"

#include <asio/connect.hpp>
#include <asio/ip/address.hpp>
#include <asio/post.hpp>
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

    // Queues one message with the configured faults; drops the client when
    // it is owed too much.
    void Queue(const std::vector<uint8_t>& message)
    {
        if (m_closed || m_overflowed)
            return;
        const ConsoleServerOptions& options = m_server.m_options;
        if (m_queued + message.size() > 2 * options.clientQueueLimit) {
            // Not closed here: this may run while the simulator walks its
            // clients.
            m_overflowed = true;
            const std::string reason = "owed more than " +
                                       std::to_string(2 * options.clientQueueLimit) +
                                       " octets it does not read";
            m_server.Log("client " + std::to_string(m_id) + ": dropped: " + reason);
            asio::post(m_server.m_io, [self = shared_from_this(), reason] { self->Close(reason); });
            return;
        }
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
            Push(std::move(junk));
            first = false;
        }
        const size_t chunk = options.chunk ? options.chunk : message.size();
        for (size_t at = 0; at < message.size(); at += chunk) {
            Piece piece;
            piece.octets.assign(message.begin() + at,
                                message.begin() + std::min(message.size(), at + chunk));
            piece.delayMs = first ? options.delayMs : 0;
            first = false;
            Push(std::move(piece));
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
        m_queued = 0;
        SetUnfinished(0);
        m_server.m_simulator.Disconnect(m_id, reason);
        m_server.Forget(m_id);
    }

    size_t Queued() const { return m_queued; }
    size_t Unfinished() const { return m_unfinished; }
    bool Paused() const { return m_paused; }

private:
    struct Piece
    {
        std::vector<uint8_t> octets;
        uint32_t delayMs = 0;
    };

    void Push(Piece piece)
    {
        m_queued += piece.octets.size();
        m_queue.push_back(std::move(piece));
    }

    void Read()
    {
        if (m_closed || m_dropping || m_inputEnded)
            return;
        auto self = shared_from_this();
        m_socket.async_read_some(asio::buffer(m_buffer),
                                 [this, self](std::error_code error, size_t got) {
            if (m_closed)
                return;
            if (error == asio::error::eof) {
                // The client sends no more: what it is owed goes out first.
                m_inputEnded = true;
                CloseWhenWritten();
                return;
            }
            if (error) {
                Close(error.message());
                return;
            }
            m_inputAt = 0;
            m_inputSize = got;
            Process();
        });
    }

    // Hands the octets read to the simulator one message at a time (cut
    // where its reader ends or drops a message), pausing while the queue is
    // past its bound; reads again when all are handled.
    void Process()
    {
        const ConsoleServerOptions& options = m_server.m_options;
        while (m_inputAt < m_inputSize) {
            if (m_queued >= options.clientQueueLimit) {
                if (!m_paused)
                    m_server.Log("client " + std::to_string(m_id) + ": owed " +
                                 std::to_string(m_queued) +
                                 " octets: not reading until they are written");
                m_paused = true;
                return;
            }
            const uint8_t* octets = m_buffer.data() + m_inputAt;
            const size_t part = m_cutter.Scan(octets, m_inputSize - m_inputAt);
            m_inputAt += part;
            m_handled += m_server.m_simulator.Receive(m_id, octets, part);
            if (m_closed)
                return;
            SetUnfinished(m_cutter.GetMessageOctets());
            if (m_closed)
                return;
            if (options.dropAfter && m_handled >= options.dropAfter) {
                // No more reading: the answers go out, then the connection.
                m_dropping = true;
                CloseWhenWritten();
                return;
            }
        }
        m_paused = false;
        Read();
    }

    void SetUnfinished(size_t octets)
    {
        if (octets == m_unfinished)
            return;
        const size_t before = m_unfinished;
        m_unfinished = octets;
        m_server.Unfinished(before, octets);
    }

    void CloseWhenWritten()
    {
        if (m_writing || !m_queue.empty())
            return;
        if (m_dropping)
            Close("dropped after " + std::to_string(m_handled) + " messages");
        else if (m_inputEnded)
            Close("closed by the client");
    }

    void Write()
    {
        if (m_writing || m_closed)
            return;
        if (m_queue.empty()) {
            CloseWhenWritten();
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
            m_queued -= m_queue.front().octets.size();
            m_queue.pop_front();
            if (m_paused && m_queued < m_server.m_options.clientQueueLimit) {
                m_paused = false;
                Process();
                if (m_closed)
                    return;
            }
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
    // The octets of the last read not handed to the simulator yet.
    size_t m_inputAt = 0;
    size_t m_inputSize = 0;
    // Follows the client's octets as the simulator's reader does, to cut
    // them at message ends and to know how much of a message it holds.
    CEmber_BoundaryScanner m_cutter;
    std::deque<Piece> m_queue;
    size_t m_queued = 0;
    size_t m_unfinished = 0;
    size_t m_handled = 0;
    bool m_writing = false;
    bool m_paused = false;
    bool m_dropping = false;
    bool m_inputEnded = false;
    bool m_overflowed = false;
    bool m_closed = false;
};

CConsoleServer::CConsoleServer(asio::io_context& io, CConsoleSimulator& simulator,
                               ConsoleServerOptions options)
    : m_io(io), m_simulator(simulator), m_options(std::move(options)), m_acceptor(io),
      m_random(std::random_device{}()), m_acceptDelay(io)
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
    const std::vector<asio::ip::tcp::endpoint> endpoints =
        ResolveHostPort(m_io, m_options.address, m_options.port, error);
    if (endpoints.empty())
        return false;
    // The first endpoint that can be listened on, as a connection takes
    // the first that answers.
    std::error_code failure;
    for (const asio::ip::tcp::endpoint& endpoint : endpoints) {
        failure.clear();
        m_acceptor.open(endpoint.protocol(), failure);
        if (!failure)
            m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), failure);
        if (!failure)
            m_acceptor.bind(endpoint, failure);
        if (!failure)
            m_acceptor.listen(asio::socket_base::max_listen_connections, failure);
        if (!failure)
            break;
        std::error_code ignored;
        m_acceptor.close(ignored);
    }
    if (failure) {
        error = "cannot listen on " + m_options.address + ":" + std::to_string(m_options.port) +
                ": " + failure.message();
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
            AcceptFailed(error);
            return;
        }
        if (m_acceptBackoffMs) {
            m_acceptBackoffMs = 0;
            m_acceptFailuresInRow = 0;
            Log("accepting again");
        }
        std::error_code ignored;
        const asio::ip::tcp::endpoint peer = socket.remote_endpoint(ignored);
        const std::string name = peer.address().to_string() + ":" + std::to_string(peer.port());
        if (m_connections.size() >= m_options.maxClients) {
            if (!m_refusing)
                Log("refusing clients (first " + name +
                    "): " + std::to_string(m_connections.size()) + " connected, the most allowed");
            m_refusing = true;
            socket.close(ignored);
            Accept();
            return;
        }
        if (m_refusing) {
            m_refusing = false;
            Log("taking clients again");
        }
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        const CConsoleSimulator::ClientId id = m_simulator.Connect(name);
        auto connection = std::make_shared<Connection>(*this, std::move(socket), id);
        m_connections.emplace(id, connection);
        connection->Start();
        Accept();
    });
}

void CConsoleServer::AcceptFailed(const std::error_code& error)
{
    // Out of descriptors (or any other failure): trying again at once would
    // fail again at once, so the next try waits, longer each time.
    ++m_acceptFailures;
    if (!m_acceptBackoffMs)
        Log("accept failed: " + error.message() + "; trying again from time to time");
    m_acceptBackoffMs = uint32_t(BackoffDelayMs(50, 1000, int(++m_acceptFailuresInRow)));
    m_acceptDelay.expires_after(std::chrono::milliseconds(m_acceptBackoffMs));
    m_acceptDelay.async_wait([this](std::error_code failure) {
        if (!failure && !m_stopped)
            Accept();
    });
}

void CConsoleServer::Unfinished(size_t before, size_t now)
{
    m_unfinished = m_unfinished - before + now;
    while (m_unfinished > m_options.unfinishedLimit) {
        std::shared_ptr<Connection> largest;
        CConsoleSimulator::ClientId id = 0;
        for (const auto& [client, connection] : m_connections) {
            if (!largest || connection->Unfinished() > largest->Unfinished()) {
                largest = connection;
                id = client;
            }
        }
        if (!largest || largest->Unfinished() == 0)
            return;
        const std::string reason = "holds " + std::to_string(largest->Unfinished()) +
                                   " octets of an unfinished message; all clients' unfinished "
                                   "messages past " +
                                   std::to_string(m_options.unfinishedLimit) + " octets";
        Log("client " + std::to_string(id) + ": dropped: " + reason);
        largest->Close(reason);
    }
}

size_t CConsoleServer::QueuedOctets(CConsoleSimulator::ClientId client) const
{
    const auto found = m_connections.find(client);
    return found == m_connections.end() ? 0 : found->second->Queued();
}

bool CConsoleServer::IsReadingPaused(CConsoleSimulator::ClientId client) const
{
    const auto found = m_connections.find(client);
    return found != m_connections.end() && found->second->Paused();
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
    m_acceptDelay.cancel();
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
