#include "partner/partner_session.h"

#include "partner/service_search.h"
#include "protocol/protocol.h"
#include "winapi.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

BOOL CollectName(const char* name, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return TRUE;
}

} // namespace

const std::vector<uint8_t>& PartnerKeepAliveOctets()
{
    static const std::vector<uint8_t> octets(kKeepAliveOctets.begin(), kKeepAliveOctets.end());
    return octets;
}

std::vector<std::string> RunningPartnerServices()
{
    std::vector<std::string> names;
    EnumWindowNames(kHostWindowPrefix, CollectName, &names);
    return names;
}

class CPartnerSession::Impl
{
public:
    ~Impl() { Close(); }

    EPartnerStatus Open(const CPartnerSessionOptions& options);
    void Close();
    HWND CreateEndpoint();
    void SetAside();
    EPartnerStatus FindService(const std::string& wanted);
    EPartnerStatus Send(uintptr_t dwData, const void* data, size_t size, LRESULT& result);
    // Refuses a call made from inside the handler (false: go on).
    bool Reentered(const char* call)
    {
        if (m_handling == 0)
            return false;
        m_error = std::string(call) + " was called from the session's own event handler; a "
                                      "handler may not use its session";
        return true;
    }
    EPartnerStatus Fail(EPartnerStatus status, std::string reason)
    {
        m_error = std::move(reason);
        return status;
    }
    EPartnerStatus Succeed(EPartnerStatus status = EPartnerStatus::Ok)
    {
        m_error.clear();
        return status;
    }
    void OnBlock(const COPYDATASTRUCT& block);

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The endpoint; null while open only when setting a request aside could
    // not make it again (the next send tries once more).
    HWND m_self = nullptr;
    bool m_open = false;
    bool m_local = false;
    HWND m_service = nullptr;
    std::string m_endpoint;
    std::string m_serviceName;
    std::string m_error;
    int m_timeoutMs = kDefaultSendTimeoutMs;
    EventHandler m_handler;
    // Handler calls in progress (a handler that calls its session is
    // refused, see Reentered).
    int m_handling = 0;
    std::vector<uint8_t> m_keepAliveSent;
};

namespace {

// Counts a handler call for as long as it runs, however it ends.
class HandlingScope
{
public:
    explicit HandlingScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~HandlingScope() { --m_depth; }
    HandlingScope(const HandlingScope&) = delete;
    HandlingScope& operator=(const HandlingScope&) = delete;

private:
    int& m_depth;
};

} // namespace

LRESULT CALLBACK CPartnerSession::Impl::Procedure(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam)
{
    if (message == WM_COPYDATA && lParam) {
        if (auto* impl = reinterpret_cast<Impl*>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
            impl->OnBlock(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
            return 1;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void CPartnerSession::Impl::OnBlock(const COPYDATASTRUCT& block)
{
    const auto* octets = static_cast<const uint8_t*>(block.lpData);
    const size_t size = octets ? block.cbData : 0;
    CPartnerEvent event;
    const uint32_t kind = BlockKind(block.dwData);
    const uint32_t length = BlockLength(block.dwData);
    if (kind == BLOCK_ENCODED) {
        event.kind = CPartnerEvent::Encoded;
        event.octets.assign(octets, octets + size);
    } else if (kind == BLOCK_REPORT) {
        event.kind = CPartnerEvent::Report;
        event.octets.assign(octets, octets + size);
        const char* text = reinterpret_cast<const char*>(octets);
        const void* nul = text ? std::memchr(text, '\0', size) : nullptr;
        const size_t textLength = nul ? size_t(static_cast<const char*>(nul) - text) : size;
        event.report = ParsePartnerReport(text ? text : "", textLength);
    } else if (kind == BLOCK_CONSOLE_DATA && length == KEEP_ALIVE_LENGTH) {
        event.kind = CPartnerEvent::KeepAliveEcho;
        event.octets.assign(octets, octets + size);
        const std::vector<uint8_t>& sent =
            m_keepAliveSent.empty() ? PartnerKeepAliveOctets() : m_keepAliveSent;
        event.unchanged = event.octets == sent;
    } else {
        event.kind = CPartnerEvent::OtherBlock;
        event.blockKind = kind;
        event.blockLength = length;
        event.octets.assign(octets, octets + size);
    }
    if (m_handler) {
        const HandlingScope scope(m_handling);
        m_handler(event);
    }
}

EPartnerStatus CPartnerSession::Impl::Open(const CPartnerSessionOptions& options)
{
    Close();
    if (options.endpoint.empty())
        return Fail(EPartnerStatus::InvalidArgument, "the partner's endpoint needs a name");
    if (options.sendTimeoutMs < 1)
        return Fail(EPartnerStatus::InvalidArgument, "the send timeout must be 1 ms or more");
    m_timeoutMs = options.sendTimeoutMs;
    m_local = options.local;
    m_endpoint = options.endpoint;
    m_self = CreateEndpoint();
    if (!m_self) {
        m_endpoint.clear();
        return Fail(EPartnerStatus::EndpointUnavailable,
                    "cannot open the endpoint " + options.endpoint + ": " + GetMessageLayerError());
    }
    m_open = true;

    const std::string prefix(kHostWindowPrefix);
    EPartnerStatus status = EPartnerStatus::Ok;
    if (!options.service.empty()) {
        // "ARG" names Korvane_ARG; a full name Korvane_... is taken as it is.
        status = FindService(prefix + options.service);
        if (status == EPartnerStatus::NoService && options.service.rfind(prefix, 0) == 0)
            status = FindService(options.service);
        if (status == EPartnerStatus::NoService)
            m_error = "no service " + prefix + options.service + " is running (" +
                      NoServiceDetail() + ")";
    } else {
        const std::vector<std::string> running = RunningPartnerServices();
        if (running.empty()) {
            status = Fail(EPartnerStatus::NoService,
                          "no Korvane service is running (" + NoServiceDetail() + ")");
        } else if (running.size() > 1) {
            std::string list;
            for (const std::string& one : running)
                list += (list.empty() ? "" : ", ") + one;
            status = Fail(EPartnerStatus::SeveralServices,
                          "several services are running (" + list + "); name one (--service)");
        } else {
            status = FindService(running.front());
            if (status == EPartnerStatus::NoService)
                m_error = "the service " + running.front() + " went away";
        }
    }
    if (status != EPartnerStatus::Ok) {
        const std::string reason = m_error;
        Close();
        return Fail(status, reason);
    }
    return Succeed();
}

EPartnerStatus CPartnerSession::Impl::FindService(const std::string& wanted)
{
    HWND found = FindWindowA(nullptr, wanted.c_str());
    // Out of descriptors, the look itself failed: that is no answer about
    // the service.
    if (!found && GetLastError() == ERROR_TOO_MANY_OPEN_FILES)
        return Fail(EPartnerStatus::EndpointUnavailable,
                    "cannot look for the service " + wanted + ": " + GetMessageLayerError());
    if (!found)
        return Fail(EPartnerStatus::NoService, "no service " + wanted + " is running");
    m_service = found;
    m_serviceName = wanted;
    return Succeed();
}

HWND CPartnerSession::Impl::CreateEndpoint()
{
    HWND window = m_local ? CreateLocalWindow(m_endpoint.c_str(), Procedure)
                          : CreateMessageWindow(m_endpoint.c_str(), Procedure);
    if (window)
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<intptr_t>(this));
    return window;
}

// After a send that gave up waiting, the service may still handle that
// block and send what it causes. Those blocks go to the sender of the block
// (the service answers the window a block came from, never a later one), so
// the window that sent it is destroyed and a fresh one made under the same
// name: a new window (on our message layer a new incarnation), which the
// late blocks cannot reach. The next block goes from the fresh window, and
// everything the service sends while handling it goes there.
void CPartnerSession::Impl::SetAside()
{
    if (m_self) {
        SetWindowLongPtrA(m_self, GWLP_USERDATA, 0);
        DestroyWindow(m_self);
    }
    m_self = CreateEndpoint();
}

void CPartnerSession::Impl::Close()
{
    if (m_self) {
        SetWindowLongPtrA(m_self, GWLP_USERDATA, 0);
        DestroyWindow(m_self);
    }
    m_self = nullptr;
    m_open = false;
    m_service = nullptr;
    m_endpoint.clear();
    m_serviceName.clear();
}

EPartnerStatus CPartnerSession::Impl::Send(uintptr_t dwData, const void* data, size_t size,
                                           LRESULT& result)
{
    if (!m_open)
        return Fail(EPartnerStatus::NotOpen, "the session is not open");
    if (!m_self && !(m_self = CreateEndpoint()))
        return Fail(EPartnerStatus::EndpointUnavailable,
                    "cannot open the endpoint " + m_endpoint + " again: " + GetMessageLayerError());
    COPYDATASTRUCT block = {};
    block.dwData = dwData;
    block.cbData = DWORD(size);
    block.lpData = const_cast<void*>(data);
    // Bounded: a service that does not answer fails the send. The blocks it
    // sends back meanwhile are handled inside the wait.
    if (SendsCancelled())
        return Fail(EPartnerStatus::Stopped, "stopped before the block was sent");
    SetLastError(ERROR_SUCCESS);
    DWORD_PTR answer = 0;
    const bool delivered =
        SendMessageTimeoutA(m_service, WM_COPYDATA, reinterpret_cast<WPARAM>(m_self),
                            reinterpret_cast<LPARAM>(&block), SMTO_NORMAL, UINT(m_timeoutMs),
                            &answer) != 0;
    result = LRESULT(answer);
    if (delivered)
        return Succeed();
    const DWORD error = GetLastError();
    if (error == ERROR_CANCELLED) {
        SetAside();
        return Fail(EPartnerStatus::Stopped, "stopped while the service " + m_serviceName +
                                                 " had the block; it may have handled it");
    }
    if (error == ERROR_TIMEOUT || error == ERROR_SUCCESS) {
        SetAside();
        return Fail(EPartnerStatus::Timeout, "the service " + m_serviceName +
                                                 " did not answer within " +
                                                 std::to_string(m_timeoutMs) + " ms");
    }
    return Fail(EPartnerStatus::SendFailed,
                "the service " + m_serviceName +
                    " did not take the block: " + GetMessageLayerError());
}

CPartnerSession::CPartnerSession() : m_impl(std::make_unique<Impl>()) {}

CPartnerSession::~CPartnerSession() = default;

EPartnerStatus CPartnerSession::Open(const CPartnerSessionOptions& options)
{
    if (m_impl->Reentered("Open"))
        return EPartnerStatus::Reentered;
    return m_impl->Open(options);
}

void CPartnerSession::Close()
{
    if (m_impl->Reentered("Close"))
        return;
    m_impl->Close();
}

bool CPartnerSession::IsOpen() const
{
    return m_impl->m_open;
}

bool CPartnerSession::InHandler() const
{
    return m_impl->m_handling > 0;
}

const std::string& CPartnerSession::ServiceName() const
{
    return m_impl->m_serviceName;
}

const std::string& CPartnerSession::EndpointName() const
{
    return m_impl->m_endpoint;
}

const std::string& CPartnerSession::LastError() const
{
    return m_impl->m_error;
}

void CPartnerSession::SetEventHandler(EventHandler handler)
{
    if (m_impl->Reentered("SetEventHandler"))
        return;
    m_impl->m_handler = std::move(handler);
}

EPartnerStatus CPartnerSession::SendCommand(std::string_view line)
{
    if (m_impl->Reentered("SendCommand"))
        return EPartnerStatus::Reentered;
    if (line.empty())
        return m_impl->Fail(EPartnerStatus::InvalidArgument, "empty command line");
    if (line.size() > kMaxPartnerCommandLength)
        return m_impl->Fail(EPartnerStatus::InvalidArgument,
                            "command line of " + std::to_string(line.size()) +
                                " characters is too long (at most " +
                                std::to_string(kMaxPartnerCommandLength) + ")");
    if (line.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos)
        return m_impl->Fail(EPartnerStatus::InvalidArgument,
                            "a command line holds no NUL and no line end");
    const std::string text(line);
    LRESULT result = 0;
    const EPartnerStatus status =
        m_impl->Send(MakeDwData(BLOCK_COMMAND, 0), text.c_str(), text.size() + 1, result);
    if (status != EPartnerStatus::Ok)
        return status;
    return result == 0 ? EPartnerStatus::NoValue : EPartnerStatus::Ok;
}

EPartnerStatus CPartnerSession::SendConsoleBlock(const uint8_t* octets, size_t size)
{
    if (m_impl->Reentered("SendConsoleBlock"))
        return EPartnerStatus::Reentered;
    if (size == 0 || !octets || size > kMaxConsoleBlock)
        return m_impl->Fail(EPartnerStatus::InvalidArgument,
                            "a console block holds 1 to 65535 octets, not " + std::to_string(size));
    if (size == KEEP_ALIVE_LENGTH)
        m_impl->m_keepAliveSent.assign(octets, octets + size);
    LRESULT result = 0;
    return m_impl->Send(MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(size)), octets, size, result);
}

EPartnerStatus
CPartnerSession::SendConsoleData(const uint8_t* octets, size_t size, size_t chunk, size_t* sent,
                                 const std::function<void(size_t offset, size_t size)>& onBlock)
{
    if (sent)
        *sent = 0;
    if (m_impl->Reentered("SendConsoleData"))
        return EPartnerStatus::Reentered;
    size_t offset = 0;
    while (offset < size) {
        // A whole input of 13 octets goes as it is: the service echoes it.
        const size_t block = size == KEEP_ALIVE_LENGTH && chunk >= KEEP_ALIVE_LENGTH
                                 ? size
                                 : ConsoleBlockLength(size - offset, chunk);
        if (onBlock)
            onBlock(offset, block);
        const EPartnerStatus status = SendConsoleBlock(octets + offset, block);
        if (status != EPartnerStatus::Ok)
            return status;
        offset += block;
        if (sent)
            *sent = offset;
    }
    return m_impl->Succeed();
}

EPartnerStatus CPartnerSession::SendKeepAlive()
{
    if (m_impl->Reentered("SendKeepAlive"))
        return EPartnerStatus::Reentered;
    const std::vector<uint8_t>& octets = PartnerKeepAliveOctets();
    return SendConsoleBlock(octets.data(), octets.size());
}

EPartnerStatus CPartnerSession::Wait(int milliseconds)
{
    if (m_impl->Reentered("Wait"))
        return EPartnerStatus::Reentered;
    if (!m_impl->m_open)
        return m_impl->Fail(EPartnerStatus::NotOpen, "the session is not open");
    if (!m_impl->m_self && !(m_impl->m_self = m_impl->CreateEndpoint()))
        return m_impl->Fail(EPartnerStatus::EndpointUnavailable,
                            "cannot open the endpoint " + m_impl->m_endpoint +
                                " again: " + GetMessageLayerError());
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        const int code = RunMessageLoop(int(std::max<int64_t>(left, 0)));
        if (code == -1)
            return m_impl->Succeed(EPartnerStatus::Stopped);
        if (code == -2 || Clock::now() >= until)
            return m_impl->Succeed();
    }
}

EPartnerStatus CPartnerSession::FindServiceAgain()
{
    if (m_impl->Reentered("FindServiceAgain"))
        return EPartnerStatus::Reentered;
    if (!m_impl->m_open)
        return m_impl->Fail(EPartnerStatus::NotOpen, "the session is not open");
    const std::string name = m_impl->m_serviceName;
    return m_impl->FindService(name);
}

void CPartnerSession::Wake()
{
    WakeMessageLoop();
}

void CPartnerSession::CancelSends()
{
    ::CancelSends();
}

void CPartnerSession::ResumeSends()
{
    ::ResumeSends();
}
