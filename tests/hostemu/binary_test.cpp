// The emulator as the lead's end-to-end tests start it: one command with
// the sample configuration, the port on the first line of standard output,
// a clean stop on SIGTERM.

#include "testutil.h"

#include "platform/platform.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostemu_test;

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            close(out);
    }
};

// Starts the emulator; stderr goes to errFile.
bool Spawn(Child& c, const std::vector<std::string>& args, const std::string& errFile) {
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(fds[1], 1);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0)
            dup2(err, 2);
        close(fds[0]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(HOSTEMU_BINARY));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(HOSTEMU_BINARY, argv.data());
        _exit(127);
    }
    close(fds[1]);
    c.out = fds[0];
    return c.pid > 0;
}

// The first line of the child's standard output, waiting at most millis.
std::string FirstLine(const Child& c, int millis) {
    std::string line;
    uint64_t end = Platform::monotonicMillis() + static_cast<uint64_t>(millis);
    while (Platform::monotonicMillis() < end) {
        pollfd p{c.out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char ch;
        if (read(c.out, &ch, 1) != 1)
            break;
        if (ch == '\n')
            return line;
        line += ch;
    }
    return line;
}

// Waits for the child's end; its exit status, or -1 after millis.
int WaitExit(Child& c, int millis) {
    uint64_t end = Platform::monotonicMillis() + static_cast<uint64_t>(millis);
    while (Platform::monotonicMillis() < end) {
        int status = 0;
        pid_t r = waitpid(c.pid, &status, WNOHANG);
        if (r == c.pid) {
            c.pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        Platform::sleepMillis(20);
    }
    return -1;
}

} // namespace

TEST(Binary, StartsWithTheSampleCatalogueAndStopsOnSigterm) {
    ScratchDir dir;
    const std::string errFile = dir.path() + "/stderr.txt";
    Child c;
    ASSERT_TRUE(Spawn(c, {"-c", std::string(HOSTEMU_SAMPLE_DIR) + "/hostemu.ini", "-p", "0"}, errFile));
    std::string line = FirstLine(c, 20000);
    ASSERT_FALSE(line.empty()) << ReadFile(errFile);
    int port = std::stoi(line);
    ASSERT_GT(port, 0);
    ASSERT_LT(port, 65536);

    PcClient pc;
    ASSERT_EQ(pc.Connect(static_cast<uint16_t>(port), "VEXUSR1", "VEXPWD1"), CM_OK);
    EXPECT_EQ(pc.Ask("PHREADY", "").back(), "ACK");
    EXPECT_EQ(pc.Ask("PHGPODIR", "VEXUSR1.JCL").size(), 7u);
    {
        // The pass phrase user of the sample.
        PcClient phrase;
        EXPECT_EQ(phrase.Connect(static_cast<uint16_t>(port), "VEXUSR2", "correct horse battery staple"), CM_OK);
    }

    ASSERT_EQ(kill(c.pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(c, 15000), 0);
    // The open conversation was ended normally.
    std::vector<Block> blocks;
    int32_t rc = pc.Send("PHREADY", "");
    if (rc == CM_OK)
        rc = pc.Answer(blocks);
    EXPECT_EQ(rc, CM_DEALLOCATED_NORMAL);
    // The temporary catalogue is gone.
    std::string err = ReadFile(errFile);
    size_t at = err.find("catalogue ");
    ASSERT_NE(at, std::string::npos) << err;
    std::string catDir = err.substr(at + 10, err.find(' ', at + 10) - at - 10);
    EXPECT_FALSE(Platform::pathExists(catDir)) << catDir;
}

TEST(Binary, RefusesBadCommandLinesAndNonLoopbackAddresses) {
    ScratchDir dir;
    const std::string errFile = dir.path() + "/stderr.txt";
    {
        Child c;
        ASSERT_TRUE(Spawn(c, {"-l", "0.0.0.0"}, errFile));
        EXPECT_EQ(WaitExit(c, 10000), 1);
        EXPECT_NE(ReadFile(errFile).find("loopback"), std::string::npos);
    }
    {
        Child c;
        ASSERT_TRUE(Spawn(c, {"--fault", "EXPLODE=1"}, errFile));
        EXPECT_EQ(WaitExit(c, 10000), 2);
        EXPECT_NE(ReadFile(errFile).find("UNKNOWN FAULT SWITCH EXPLODE"), std::string::npos);
    }
    {
        Child c;
        ASSERT_TRUE(Spawn(c, {"-h"}, errFile));
        EXPECT_EQ(FirstLine(c, 5000).substr(0, 22), "Usage: vexlink-hostemu");
        EXPECT_EQ(WaitExit(c, 10000), 0);
    }
}

TEST(Binary, KeepsAGivenCatalogueAndTakesOptionsOverTheConfiguration) {
    ScratchDir dir;
    const std::string errFile = dir.path() + "/stderr.txt";
    const std::string cat = dir.path() + "/cat";
    Child c;
    ASSERT_TRUE(Spawn(c, {"-c", std::string(HOSTEMU_SAMPLE_DIR) + "/hostemu.ini", "--catalog", cat, "--user",
                          "OTHER=pw", "--fault", "UNKNOWN_PREFIX=YES", "-v"},
                      errFile));
    std::string line = FirstLine(c, 20000);
    ASSERT_FALSE(line.empty()) << ReadFile(errFile);
    PcClient pc;
    ASSERT_EQ(pc.Connect(static_cast<uint16_t>(std::stoi(line)), "OTHER", "pw"), CM_OK);
    EXPECT_EQ(pc.Ask("PHREADY", "").at(0), "HPBOGUS:AN ITEM NO PC KNOWS");
    pc.Close();
    kill(c.pid, SIGINT);
    EXPECT_EQ(WaitExit(c, 15000), 0);
    EXPECT_TRUE(Platform::isRegularFile(cat + "/datasets/VEXUSR1.DEMO.DATA"));
    // -v logs the requests.
    EXPECT_NE(ReadFile(errFile).find("OTHER: <- PHREADY"), std::string::npos);
}
