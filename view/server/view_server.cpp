#include "view/server/view_server.h"

#include "view/server/listen_socket.h"
#include "view/view_access.h"
#include "view/view_commands.h"
#include "view/web/view_page.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;

namespace {

// A quiet event stream sends a comment this often, so that proxies and the
// page see it alive.
constexpr int64_t kKeepAliveCommentMs = 15000;
// How often a quiet event stream looks whether its page went away, which
// frees the page's place.
constexpr int64_t kStreamProbeMs = 1000;
// How long a request may take to arrive, and an idle connection may stay.
constexpr int kReadTimeoutMs = 5000;
constexpr uint32_t kMaxHeaderOctets = 16384;

const char kPagePolicy[] =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src "
    "'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string Dump(const json& body)
{
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

// What a handler answers: a status, a body and its headers. The body is
// shared, so that the whole state goes out to many pages as one copy.
struct Reply
{
    unsigned status = 200;
    std::string type;
    std::shared_ptr<const std::string> body;
    std::vector<std::pair<std::string, std::string>> headers;
};

Reply Refusal(unsigned status, const std::string& reason)
{
    return {status,
            "text/plain; charset=utf-8",
            std::make_shared<const std::string>(reason + "\n"),
            {}};
}

Reply JsonReply(const json& body, unsigned status = 200)
{
    return {status,
            "application/json; charset=utf-8",
            std::make_shared<const std::string>(Dump(body)),
            {}};
}

Reply Attachment(Reply reply, const char* file)
{
    reply.headers.emplace_back("Content-Disposition",
                               std::string("attachment; filename=\"") + file + "\"");
    return reply;
}

using Request = http::request<http::string_body>;

std::string HeaderOf(const Request& req, const char* name, bool& present)
{
    const auto found = req.find(name);
    present = found != req.end();
    return present ? std::string(found->value()) : std::string();
}

} // namespace

class CViewServer::Impl
{
public:
    Impl(CViewState& state, CViewServerOptions options, CViewCommandSink sink)
        : m_options(std::move(options)), m_state(state), m_sink(std::move(sink))
    {}

    ~Impl() { Stop(); }

    bool Start(std::string& error);
    void Stop();

    CViewServerOptions m_options;
    uint16_t m_port = 0;

private:
    // One connection: its own thread, and an I/O context that thread alone
    // runs, one operation at a time (which gives every read and write its
    // time limit).
    struct Connection
    {
        asio::io_context io;
        std::optional<beast::tcp_stream> stream;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void Accept();
    void Serve(Connection& connection);
    // Runs the operation started on the connection to its end; false when
    // the server stops meanwhile.
    bool Run(Connection& connection);
    bool Write(Connection& connection, const Reply& reply, unsigned version, bool keepAlive);
    void Stream(Connection& connection, unsigned version);
    bool PeerLeft(Connection& connection);
    Reply Handle(const Request& req, const CViewTarget& target);
    bool ParseBody(const Request& req, Reply& refusal, json& body);
    bool Writable(Reply& refusal);
    Reply SendLine(const std::string& line);
    void ReapLocked();

    CViewState& m_state;
    CViewCommandSink m_sink;
    std::vector<std::string> m_hosts;
    size_t m_maxConnections = 0;

    asio::io_context m_acceptIo;
    std::optional<tcp::acceptor> m_acceptor;
    std::thread m_acceptThread;
    std::mutex m_mutex; // guards m_connections
    std::list<std::unique_ptr<Connection>> m_connections;
    std::atomic<bool> m_stopping{false};
    bool m_stopped = false;
};

bool CViewServer::Impl::Run(Connection& connection)
{
    // Stop() sets m_stopping before it stops the context: a restart after
    // that stop sees the flag.
    connection.io.restart();
    if (m_stopping)
        return false;
    connection.io.run();
    return !m_stopping;
}

bool CViewServer::Impl::Write(Connection& connection, const Reply& reply, unsigned version,
                              bool keepAlive)
{
    http::response<http::span_body<const char>> res{http::status(reply.status), version};
    res.set(http::field::content_type, reply.type);
    res.set(http::field::cache_control, "no-store");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Referrer-Policy", "no-referrer");
    for (const auto& [name, value] : reply.headers)
        res.set(name, value);
    res.body() = {reply.body->data(), reply.body->size()};
    res.keep_alive(keepAlive);
    res.prepare_payload();
    beast::error_code error;
    connection.stream->expires_after(std::chrono::milliseconds(m_options.writeTimeoutMs));
    http::async_write(*connection.stream, res,
                      [&error](beast::error_code ec, size_t) { error = ec; });
    return Run(connection) && !error;
}

bool CViewServer::Impl::PeerLeft(Connection& connection)
{
    // A page sends nothing on its event stream: readable means it closed.
    tcp::socket& socket = connection.stream->socket();
    beast::error_code error;
    socket.non_blocking(true, error);
    char octet = 0;
    socket.read_some(asio::buffer(&octet, 1), error);
    beast::error_code ignored;
    socket.non_blocking(false, ignored);
    return error && error != asio::error::would_block;
}

void CViewServer::Impl::Stream(Connection& connection, unsigned version)
{
    const uint64_t page = m_state.OpenPage();
    if (page == 0) {
        Write(connection,
              Refusal(503, "too many pages open (at most " +
                               std::to_string(m_state.Options().maxPages) + ")"),
              version, false);
        return;
    }
    http::response<http::empty_body> res{http::status::ok, version};
    res.set(http::field::content_type, "text/event-stream");
    res.set(http::field::cache_control, "no-store");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Referrer-Policy", "no-referrer");
    res.chunked(true);
    http::response_serializer<http::empty_body> serializer{res};
    beast::error_code error;
    connection.stream->expires_after(std::chrono::milliseconds(m_options.writeTimeoutMs));
    http::async_write_header(*connection.stream, serializer,
                             [&error](beast::error_code ec, size_t) { error = ec; });
    bool open = Run(connection) && !error;
    // What goes out next: small texts of our own and the events' data,
    // which is shared (the whole state is not copied for each page).
    std::vector<std::shared_ptr<const std::string>> pieces;
    pieces.push_back(std::make_shared<const std::string>("retry: 1000\n\n"));
    int64_t quietMs = 0;
    while (open) {
        if (!pieces.empty()) {
            std::vector<asio::const_buffer> buffers;
            for (const auto& piece : pieces)
                buffers.emplace_back(piece->data(), piece->size());
            connection.stream->expires_after(std::chrono::milliseconds(m_options.writeTimeoutMs));
            asio::async_write(*connection.stream, http::make_chunk(buffers),
                              [&error](beast::error_code ec, size_t) { error = ec; });
            // A page that does not read within the time is dropped; it
            // reconnects and gets the whole state.
            if (!Run(connection) || error)
                break;
            pieces.clear();
        }
        const CViewBatch batch = m_state.WaitPage(page, kStreamProbeMs);
        if (m_stopping || m_state.IsShutDown())
            break;
        if (batch.events.empty()) {
            if (PeerLeft(connection))
                break;
            quietMs += kStreamProbeMs;
            if (quietMs >= kKeepAliveCommentMs) {
                pieces.push_back(std::make_shared<const std::string>(": still here\n\n"));
                quietMs = 0;
            }
            continue;
        }
        quietMs = 0;
        for (const CViewEvent& event : batch.events) {
            pieces.push_back(
                std::make_shared<const std::string>("event: " + event.name + "\ndata: "));
            pieces.push_back(event.data);
            pieces.push_back(std::make_shared<const std::string>("\n\n"));
        }
    }
    m_state.ClosePage(page);
}

void CViewServer::Impl::Serve(Connection& connection)
{
    beast::flat_buffer buffer;
    for (;;) {
        http::request_parser<http::string_body> parser;
        parser.header_limit(kMaxHeaderOctets);
        parser.body_limit(m_options.maxBodyOctets);
        beast::error_code error;
        connection.stream->expires_after(std::chrono::milliseconds(kReadTimeoutMs));
        http::async_read(*connection.stream, buffer, parser,
                         [&error](beast::error_code ec, size_t) { error = ec; });
        if (!Run(connection))
            return;
        if (error == http::error::body_limit) {
            Write(connection,
                  Refusal(413, "the body is larger than " +
                                   std::to_string(m_options.maxBodyOctets) + " octets"),
                  11, false);
            return;
        }
        if (error == http::error::end_of_stream || error == beast::error::timeout ||
            error == asio::error::connection_reset || error == asio::error::eof)
            return;
        if (error) {
            Write(connection, Refusal(400, "malformed request: " + error.message()), 11, false);
            return;
        }
        const Request& req = parser.get();
        const unsigned version = req.version();
        CViewTarget target;
        if (!ParseViewTarget(std::string_view(req.target().data(), req.target().size()), target)) {
            Write(connection, Refusal(400, "malformed request target"), version, false);
            return;
        }
        CViewRequestFacts facts;
        facts.method = std::string(req.method_string());
        facts.path = target.path;
        facts.host = HeaderOf(req, "Host", facts.hasHost);
        facts.origin = HeaderOf(req, "Origin", facts.hasOrigin);
        bool present = false;
        facts.fetchSite = HeaderOf(req, "Sec-Fetch-Site", present);
        const auto token = target.query.find("token");
        facts.token =
            token != target.query.end() ? token->second : HeaderOf(req, "X-Korvane-Token", present);
        const CViewVerdict verdict = CheckViewRequest(m_hosts, m_options.token, facts);
        if (verdict.status != 0) {
            if (!Write(connection, Refusal(unsigned(verdict.status), verdict.reason), version,
                       req.keep_alive()) ||
                !req.keep_alive())
                return;
            continue;
        }
        if (req.method() == http::verb::get && target.path == "/api/events") {
            Stream(connection, version);
            return;
        }
        const bool keepAlive = req.keep_alive();
        if (!Write(connection, Handle(req, target), version, keepAlive) || !keepAlive)
            return;
    }
}

bool CViewServer::Impl::ParseBody(const Request& req, Reply& refusal, json& body)
{
    if (req.body().size() > m_options.maxSmallBodyOctets) {
        refusal = Refusal(413, "the body is larger than " +
                                   std::to_string(m_options.maxSmallBodyOctets) + " octets");
        return false;
    }
    body = json::parse(req.body(), nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        refusal = Refusal(400, "malformed JSON: the body must be one JSON object");
        return false;
    }
    return true;
}

bool CViewServer::Impl::Writable(Reply& refusal)
{
    if (m_sink)
        return true;
    refusal = Refusal(403, "refused: this view is read-only (a capture)");
    return false;
}

Reply CViewServer::Impl::SendLine(const std::string& line)
{
    const CViewLineCheck check = CheckViewLine(line, m_options.strict);
    if (check.refused) {
        m_state.Log("warning", "refused " + line + ": " + check.warning);
        return Refusal(400, "refused " + line + ": " + check.warning);
    }
    if (!check.warning.empty())
        m_state.Log("warning", line + ": " + check.warning);
    m_sink(line);
    return JsonReply({{"line", line}, {"warning", check.warning}});
}

Reply CViewServer::Impl::Handle(const Request& req, const CViewTarget& target)
{
    const std::string& path = target.path;
    const bool get = req.method() == http::verb::get;
    const bool post = req.method() == http::verb::post;
    if (get && path == "/") {
        static const auto page = std::make_shared<const std::string>(
            reinterpret_cast<const char*>(kViewPage), kViewPageSize);
        return {200, "text/html; charset=utf-8", page, {{"Content-Security-Policy", kPagePolicy}}};
    }
    if (get && path == "/api/state")
        return {200, "application/json; charset=utf-8", m_state.StateText(), {}};
    if (get && path == "/api/export.json")
        return Attachment(JsonReply(m_state.ExportJson()), "korvane-values.json");
    if (get && path == "/api/export.csv")
        return Attachment({200,
                           "text/csv; charset=utf-8",
                           std::make_shared<const std::string>(m_state.ExportCsv()),
                           {}},
                          "korvane-values.csv");
    if (get && path == "/api/labels")
        return Attachment(JsonReply(m_state.LabelsJson()), "korvane-labels.json");
    if (post && path == "/api/labels") {
        const json body = json::parse(req.body(), nullptr, false);
        if (body.is_discarded())
            return Refusal(400, "malformed JSON: a labels document is {\"labels\": {PATH: LABEL}}");
        std::string error;
        const auto replace = target.query.find("replace");
        if (!m_state.ImportLabels(body, replace != target.query.end() && replace->second == "1",
                                  error))
            return Refusal(400, "labels not taken: " + error);
        m_state.Log("labels", "labels imported");
        return JsonReply({{"labels", m_state.LabelCount()}});
    }
    Reply refusal;
    json body;
    if (post && path == "/api/label") {
        if (!ParseBody(req, refusal, body))
            return refusal;
        if (!body.contains("path") || !body["path"].is_string() || !body.contains("label") ||
            !body["label"].is_string())
            return Refusal(400, "a label is {\"path\": TEXT, \"label\": TEXT}");
        std::string error;
        if (!m_state.SetLabel(body["path"], body["label"], error))
            return Refusal(400, "label not taken: " + error);
        return JsonReply({{"path", body["path"]}, {"label", body["label"]}});
    }
    if (post && path == "/api/set") {
        if (!ParseBody(req, refusal, body) || !Writable(refusal))
            return refusal;
        if (!body.contains("path") || !body["path"].is_string() || !body.contains("value") ||
            !(body["value"].is_string() || body["value"].is_number_integer()))
            return Refusal(400, "a set is {\"path\": TEXT, \"value\": NUMBER or TEXT}");
        const bool text = body["value"].is_string();
        const std::string value =
            text ? body["value"].get<std::string>() : std::to_string(body["value"].get<int64_t>());
        std::string line;
        std::string error;
        if (!SetLineFor(body["path"], text, value, line, error))
            return Refusal(400, "not sent: " + error);
        return SendLine(line);
    }
    if (post && path == "/api/poll") {
        if (!ParseBody(req, refusal, body) || !Writable(refusal))
            return refusal;
        if (!body.contains("path") || !body["path"].is_string())
            return Refusal(400, "a poll is {\"path\": TEXT}");
        std::string line;
        std::string error;
        if (!PollLineFor(body["path"], line, error))
            return Refusal(400, "not sent: " + error);
        return SendLine(line);
    }
    if (post && path == "/api/command") {
        if (!ParseBody(req, refusal, body) || !Writable(refusal))
            return refusal;
        if (!body.contains("line") || !body["line"].is_string() ||
            body["line"].get_ref<const std::string&>().empty())
            return Refusal(400, "a command is {\"line\": TEXT}");
        const std::string line = body["line"];
        if (line.find_first_of("\r\n") != std::string::npos || line.size() > 1024)
            return Refusal(400, "a command line is one line of at most 1024 octets");
        return SendLine(line);
    }
    return Refusal(404, "not found: " + std::string(req.method_string()) + " " + path);
}

void CViewServer::Impl::ReapLocked()
{
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

void CViewServer::Impl::Accept()
{
    auto connection = std::make_unique<Connection>();
    Connection& next = *connection;
    m_acceptor->async_accept(next.io, [this, connection = std::move(connection)](
                                          beast::error_code error, tcp::socket socket) mutable {
        if (m_stopping || error == asio::error::operation_aborted)
            return;
        if (!error) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ReapLocked();
            if (m_connections.size() >= m_maxConnections) {
                // Small enough for an empty send buffer: it does not block.
                static const char kBusy[] =
                    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; "
                    "charset=utf-8\r\nContent-Length: 30\r\nConnection: close\r\n\r\n"
                    "too many connections at once\r\n";
                beast::error_code ignored;
                asio::write(socket, asio::buffer(kBusy, sizeof kBusy - 1), ignored);
                socket.close(ignored);
            } else {
                Connection& served = *connection;
                served.stream.emplace(std::move(socket));
                served.thread = std::thread([this, &served] {
                    Serve(served);
                    beast::error_code ignored;
                    served.stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
                    served.stream->socket().close(ignored);
                    served.done = true;
                });
                m_connections.push_back(std::move(connection));
            }
        }
        Accept();
    });
}

bool CViewServer::Impl::Start(std::string& error)
{
    const std::string where = m_options.address + ":" + std::to_string(m_options.port);
    beast::error_code ec;
    tcp::resolver resolver(m_acceptIo);
    const auto endpoints =
        resolver.resolve(m_options.address, std::to_string(m_options.port),
                         tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || endpoints.empty()) {
        error = "cannot listen on " + where + " (not an address of this machine)";
        return false;
    }
    m_acceptor.emplace(m_acceptIo);
    const tcp::endpoint endpoint = endpoints.begin()->endpoint();
    m_acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        PrepareListenSocket(*m_acceptor);
    if (!ec)
        m_acceptor->bind(endpoint, ec);
    if (!ec)
        m_acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + where + " (in use, or not an address of this machine)";
        m_acceptor.reset();
        return false;
    }
    m_port = m_acceptor->local_endpoint().port();
    m_hosts = ViewHostNames(m_options.address, m_port);
    m_maxConnections = m_state.Options().maxPages + 8;
    Accept();
    m_acceptThread = std::thread([this] { m_acceptIo.run(); });
    return true;
}

void CViewServer::Impl::Stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_stopping = true;
    m_state.Shutdown();
    m_acceptIo.stop();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        connections.swap(m_connections);
    }
    for (auto& connection : connections)
        connection->io.stop();
    for (auto& connection : connections)
        connection->thread.join();
}

CViewServer::CViewServer(CViewState& state, CViewServerOptions options, CViewCommandSink sink)
    : m_impl(std::make_unique<Impl>(state, std::move(options), std::move(sink)))
{}

CViewServer::~CViewServer() = default;

bool CViewServer::Start(std::string& error)
{
    return m_impl->Start(error);
}

uint16_t CViewServer::Port() const
{
    return m_impl->m_port;
}

std::string CViewServer::Address() const
{
    const std::string& address = m_impl->m_options.address;
    const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    return "http://" + host + ":" + std::to_string(m_impl->m_port) +
           "/?token=" + m_impl->m_options.token;
}

void CViewServer::Stop()
{
    m_impl->Stop();
}
