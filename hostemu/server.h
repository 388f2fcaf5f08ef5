#pragma once
// The network side of the emulator: listens through the conversation
// library's host interface, checks each allocation (member, user, password),
// and runs every accepted conversation on a thread of its own with a
// Session. Several conversations are served at once.

#include "catalog.h"
#include "codec.h"
#include "config.h"
#include "spool.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct wch_listener;
struct wch_conv;
struct wch_alloc_info;

namespace hostemu {

class Server {
public:
    explicit Server(EmuConfig config);
    // Stops, waits for the conversations and removes a temporary catalogue.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Prepares the catalogue (seeding an empty one), the spool and the
    // listener. False with a reason.
    bool Start(std::string& error);
    uint16_t Port() const { return m_port; }
    const std::string& CatalogDir() const { return m_catalogDir; }

    // Accepts conversations until Stop() is called or *externalStop turns
    // true; then ends the open conversations and returns.
    void Run(const std::atomic<bool>* externalStop = nullptr);
    // Run() on a thread of its own (for tests).
    void RunInBackground();
    // Asks Run() to end; safe from any thread.
    void Stop();
    // Stop() and wait for the background thread.
    void Shutdown();

    Catalog& GetCatalog() { return *m_catalog; }
    Spool& GetSpool() { return *m_spool; }
    const Codec& GetCodec() const { return *m_codec; }
    uint64_t ConversationsAccepted() const { return m_accepted.load(); }
    uint64_t AllocationsRejected() const { return m_rejected.load(); }
    int ActiveConversations() const { return m_active.load(); }

    // The allocation check: CM_OK, CM_SECURITY_NOT_VALID (user or password)
    // or CM_TPN_NOT_RECOGNIZED (member).
    int32_t CheckAllocation(const wch_alloc_info& info) const;

private:
    struct Conversation;
    void Serve(Conversation* conv);
    void Log(const std::string& text) const;
    void ReapFinished(bool all);

    EmuConfig m_config;
    std::unique_ptr<Codec> m_codec;
    std::unique_ptr<Catalog> m_catalog;
    std::unique_ptr<Spool> m_spool;
    std::string m_catalogDir;
    bool m_bTempCatalog = false;
    wch_listener* m_listener = nullptr;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_accepted{0};
    std::atomic<uint64_t> m_rejected{0};
    std::atomic<int> m_active{0};
    std::mutex m_convLock;
    std::list<std::unique_ptr<Conversation>> m_convs;
    std::thread m_background;
    mutable std::mutex m_logLock;
};

} // namespace hostemu
