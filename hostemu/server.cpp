#include "server.h"

#include "seed.h"
#include "session.h"

#include "platform/platform.h"
#include "wirecomm_host.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace hostemu {

namespace {

// The answer sink over one conversation of the library.
class ConvSink : public AnswerSink {
public:
    ConvSink(wch_conv* conv, const std::atomic<bool>& stop) : m_conv(conv), m_stop(stop) {}

    bool Send(const std::string& block) override
    {
        if (m_stop.load())
            return false; // the emulator is stopping: the answer ends here
        return wch_send(m_conv, reinterpret_cast<const unsigned char*>(block.data()),
                        static_cast<int32_t>(block.size()), 0) == CM_OK;
    }
    // An intermediate acknowledgement (no hand-over) is written at once, so
    // that the PC has the receipt while the host goes on working.
    bool Ack(bool handOver) override
    {
        return wch_send(m_conv, nullptr, 0, handOver ? 1 : 0) == CM_OK && (handOver || wch_flush(m_conv) == CM_OK);
    }
    bool SendRaw(const std::string& bytes) override
    {
        return wch_send_raw(m_conv, bytes.data(), bytes.size()) == CM_OK;
    }
    bool SendOversize(const std::string& block) override
    {
        // A data frame as the protocol writes it ('W', 'C', type 0x10, no
        // flags, 32-bit big-endian length), with a length the receiving side
        // must refuse.
        std::string frame = {'W', 'C', '\x10', '\x00'};
        uint32_t n = static_cast<uint32_t>(block.size());
        frame += static_cast<char>(n >> 24);
        frame += static_cast<char>(n >> 16);
        frame += static_cast<char>(n >> 8);
        frame += static_cast<char>(n);
        frame += block;
        return SendRaw(frame);
    }
    void Drop() override { m_bDropped = true; }
    bool Pause(int millis) override
    {
        // what was answered before the pause reaches the PC before it
        if (wch_flush(m_conv) != CM_OK)
            return false;
        uint64_t end = Platform::monotonicMillis() + static_cast<uint64_t>(millis);
        while (Platform::monotonicMillis() < end) {
            if (m_stop.load())
                return false;
            uint64_t left = end - Platform::monotonicMillis();
            Platform::sleepMillis(static_cast<uint32_t>(left < 50 ? left : 50));
        }
        return true;
    }
    bool Dropped() const { return m_bDropped; }

private:
    wch_conv* m_conv;
    const std::atomic<bool>& m_stop;
    bool m_bDropped = false;
};

std::string MakeTempDir()
{
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    for (int i = 0; i < 1000; ++i) {
        fs::path p = base / ("hostemu-" + std::to_string(Platform::processId()) + "-" +
                             std::to_string(Platform::monotonicMillis()) + "-" + std::to_string(i));
        if (fs::create_directory(p, ec))
            return p.string();
    }
    return std::string();
}

} // namespace

struct Server::Conversation {
    wch_conv* conv = nullptr;
    std::string user;
    std::string member;
    int number = 0;
    std::thread thread;
    std::atomic<bool> finished{false};
};

Server::Server(EmuConfig config) : m_config(std::move(config))
{
}

Server::~Server()
{
    Shutdown();
    ReapFinished(true);
    if (m_listener != nullptr) {
        wch_listener_close(m_listener);
        m_listener = nullptr;
    }
    m_spool.reset();
    m_catalog.reset();
    if (m_bTempCatalog && !m_catalogDir.empty()) {
        std::error_code ec;
        fs::remove_all(m_catalogDir, ec);
    }
}

void Server::Log(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(m_logLock);
    std::tm tm{};
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), tm);
    std::fprintf(stderr, "hostemu %02d:%02d:%02d %s\n", tm.tm_hour, tm.tm_min, tm.tm_sec, text.c_str());
    std::fflush(stderr);
}

bool Server::Start(std::string& error)
{
    if (!m_config.Validate(error))
        return false;
    try {
        m_codec.reset(new Codec(m_config.codepage));
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    m_catalogDir = m_config.catalogDir;
    if (m_catalogDir.empty()) {
        m_catalogDir = MakeTempDir();
        if (m_catalogDir.empty()) {
            error = "cannot create a temporary catalogue directory";
            return false;
        }
        m_bTempCatalog = true;
    }
    const bool fresh = !Catalog::IsCatalogue(m_catalogDir);
    m_catalog.reset(new Catalog());
    Status st = m_catalog->Open(m_catalogDir);
    if (!st.Ok()) {
        error = st.text;
        return false;
    }
    if (fresh && !m_config.seedDir.empty()) {
        st = SeedCatalogue(m_config.seedDir, *m_catalog, *m_codec);
        if (!st.Ok()) {
            error = st.text;
            return false;
        }
    }
    m_spool.reset(new Spool(*m_catalog, *m_codec));
    st = m_spool->Open(m_catalogDir + "/spool");
    if (!st.Ok()) {
        error = st.text;
        return false;
    }
    wch_config cfg{};
    cfg.tls = m_config.tls ? 1 : 0;
    cfg.cert_file = m_config.tlsCert.c_str();
    cfg.key_file = m_config.tlsKey.c_str();
    cfg.client_ca_file = m_config.tlsClientCa.c_str();
    cfg.security_level = m_config.tlsSecurityLevel;
    int32_t rc = CM_OK;
    m_listener = wch_listen(m_config.listen.c_str(), static_cast<uint16_t>(m_config.port), &cfg, &rc);
    if (m_listener == nullptr) {
        error = "cannot listen on " + m_config.listen + " port " + std::to_string(m_config.port) + ": " +
                cm_rc2str(rc) + " (rc " + std::to_string(rc) + ")";
        return false;
    }
    m_port = wch_listener_port(m_listener);
    Log("listening on " + m_config.listen + " port " + std::to_string(m_port) + (m_config.tls ? " (TLS)" : "") +
        ", code page table " + std::to_string(m_config.codepage) + ", catalogue " + m_catalogDir + " (" +
        std::to_string(m_catalog->Count()) + " data sets), faults: " + m_config.faults.Describe());
    return true;
}

int32_t Server::CheckAllocation(const wch_alloc_info& info) const
{
    std::string member = UpperAscii(info.symdest);
    if (!m_config.members.empty()) {
        bool known = false;
        for (const std::string& m : m_config.members)
            known = known || m == member;
        if (!known)
            return CM_TPN_NOT_RECOGNIZED;
    }
    Faults faults = m_config.FaultsFor(info.user);
    if (faults.rejectPassword)
        return CM_SECURITY_NOT_VALID;
    if (m_config.users.empty())
        return CM_OK;
    const UserEntry* user = m_config.FindUser(info.user);
    if (user == nullptr)
        return CM_SECURITY_NOT_VALID;
    bool check =
        user->check == UserEntry::Check::Yes || (user->check == UserEntry::Check::Client && info.password_check != 0);
    if (check && user->password != info.password)
        return CM_SECURITY_NOT_VALID;
    return CM_OK;
}

void Server::Serve(Conversation* c)
{
    HostContext ctx{*m_catalog, *m_spool, *m_codec, m_config.sysname, nullptr};
    if (m_config.verbose)
        ctx.log = [this](const std::string& t) { Log(t); };
    ConvSink sink(c->conv, m_stop);
    std::string end;
    {
        Session session(ctx, c->user, c->member, m_config.FaultsFor(c->user), c->number);
        std::vector<unsigned char> buffer(WC_MAX_BLOCK);
        uint64_t lastTraffic = Platform::monotonicMillis();
        for (;;) {
            if (m_stop.load()) {
                wch_deallocate(c->conv);
                end = "ended by the emulator's stop";
                break;
            }
            int32_t length = 0, handOver = 0;
            int32_t rc = wch_receive(c->conv, buffer.data(), WC_MAX_BLOCK, &length, &handOver, 200);
            if (rc == CM_OPERATION_INCOMPLETE) {
                if (m_config.idleTimeout > 0 && !session.Hanging() &&
                    Platform::monotonicMillis() - lastTraffic > static_cast<uint64_t>(m_config.idleTimeout) * 1000) {
                    wch_deallocate(c->conv);
                    end = "ended after " + std::to_string(m_config.idleTimeout) + " idle seconds";
                    break;
                }
                continue;
            }
            if (rc != CM_OK) {
                end = std::string("ended by the PC: ") + cm_rc2str(rc);
                break;
            }
            lastTraffic = Platform::monotonicMillis();
            std::string block(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(length));
            if (!session.OnBlock(block, handOver != 0, sink)) {
                if (m_stop.load() && !sink.Dropped()) {
                    wch_deallocate(c->conv);
                    end = "ended by the emulator's stop";
                    break;
                }
                end = sink.Dropped() ? "dropped on purpose (fault switch)" : "ended: an answer could not be sent";
                break;
            }
        }
    }
    // Closes the connection (without a word when it is still open) and frees it.
    wch_conv_free(c->conv);
    c->conv = nullptr;
    Log("conversation " + std::to_string(c->number) + " " + c->user + " " + end);
    m_active.fetch_sub(1);
    c->finished.store(true);
}

void Server::ReapFinished(bool all)
{
    std::list<std::unique_ptr<Conversation>> done;
    {
        std::lock_guard<std::mutex> lock(m_convLock);
        for (auto it = m_convs.begin(); it != m_convs.end();) {
            if (all || (*it)->finished.load()) {
                done.push_back(std::move(*it));
                it = m_convs.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done)
        if (c->thread.joinable())
            c->thread.join();
}

void Server::Run(const std::atomic<bool>* externalStop)
{
    int number = 0;
    while (!m_stop.load()) {
        if (externalStop != nullptr && externalStop->load()) {
            m_stop.store(true);
            break;
        }
        int32_t rc = CM_OK;
        // The wait for a connection and its handshake have limits of their own: a PC that
        // connected late in the 200 ms wait must not be cut off in the middle of its hello.
        wch_conv* conv = wch_accept_connection(m_listener, 200, &rc);
        ReapFinished(false);
        if (conv == nullptr) {
            if (rc != CM_OPERATION_INCOMPLETE)
                Log(std::string("a connection failed before its allocation: ") + cm_rc2str(rc));
            continue;
        }
        rc = wch_handshake(conv, 10000);
        if (rc != CM_OK) {
            Log(std::string("a connection failed before its allocation: ") + cm_rc2str(rc));
            wch_conv_free(conv);
            continue;
        }
        const wch_alloc_info* info = wch_conv_info(conv);
        int32_t verdict = CheckAllocation(*info);
        if (verdict == CM_OK && m_active.load() >= m_config.maxConversations)
            verdict = CM_TP_NOT_AVAILABLE_RETRY; // one thread per conversation: keep them bounded
        std::string who = std::string(info->user) + " for " + info->symdest + " from " + info->peer_address;
        if (wch_allocate_reply(conv, verdict) != CM_OK || verdict != CM_OK) {
            if (verdict != CM_OK) {
                m_rejected.fetch_add(1);
                Log("allocation of " + who + " rejected: " + cm_rc2str(verdict));
            }
            wch_conv_free(conv);
            continue;
        }
        std::unique_ptr<Conversation> c(new Conversation());
        c->conv = conv;
        c->user = UpperAscii(info->user);
        c->member = UpperAscii(info->symdest);
        c->number = ++number;
        m_accepted.fetch_add(1);
        m_active.fetch_add(1);
        Log("conversation " + std::to_string(c->number) + " accepted: " + who + ", crypt mode " +
            std::to_string(info->crypt_mode));
        Conversation* raw = c.get();
        {
            std::lock_guard<std::mutex> lock(m_convLock);
            m_convs.push_back(std::move(c));
            raw->thread = std::thread(&Server::Serve, this, raw);
        }
    }
    // Ending: every conversation ends itself at its next receive.
    ReapFinished(true);
}

void Server::RunInBackground()
{
    m_background = std::thread([this]() { Run(nullptr); });
}

void Server::Stop()
{
    m_stop.store(true);
}

void Server::Shutdown()
{
    Stop();
    if (m_background.joinable())
        m_background.join();
}

} // namespace hostemu
