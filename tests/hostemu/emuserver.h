#pragma once
// An emulator running in the test process on 127.0.0.1 and a port the
// system picks, over a scratch catalogue seeded with the sample catalogue.

#include "server.h"
#include "testutil.h"

#include <functional>
#include <memory>

namespace hostemu_test {

class EmuServer {
public:
    explicit EmuServer(const std::function<void(hostemu::EmuConfig&)>& tweak = nullptr,
                       const std::string& catalogDir = std::string()) {
        hostemu::EmuConfig cfg;
        cfg.listen = "127.0.0.1";
        cfg.port = 0;
        cfg.seedDir = std::string(HOSTEMU_SAMPLE_DIR) + "/seed";
        cfg.catalogDir = catalogDir.empty() ? m_scratch.path() + "/catalog" : catalogDir;
        cfg.members = {"VEXSTC"};
        hostemu::UserEntry user;
        user.name = "VEXUSR1";
        user.password = "VEXPWD1";
        cfg.AddUser(user);
        if (tweak)
            tweak(cfg);
        m_server.reset(new hostemu::Server(cfg));
        std::string error;
        m_bStarted = m_server->Start(error);
        EXPECT_TRUE(m_bStarted) << error;
        if (m_bStarted)
            m_server->RunInBackground();
    }
    ~EmuServer() { m_server->Shutdown(); }

    uint16_t Port() const { return m_server->Port(); }
    hostemu::Server& Get() { return *m_server; }
    bool Started() const { return m_bStarted; }

private:
    ScratchDir m_scratch;
    std::unique_ptr<hostemu::Server> m_server;
    bool m_bStarted = false;
};

} // namespace hostemu_test
