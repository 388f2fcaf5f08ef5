// The emulator program beyond what the end-to-end and PHP runs use of it: a
// clean stop on SIGTERM (exit 0, conversations ended, temporary catalogue
// removed) and refusal of bad command lines and non-loopback addresses.

#include "testutil.h"

#include "platform/platform.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostemu_test;

namespace {

// The emulator with stdout on a pipe and stderr in errFile.
struct Child {
    Child(const std::vector<std::string>& args, const std::string& errFile) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            close(fds[0]);
            std::vector<char*> argv{const_cast<char*>(HOSTEMU_BINARY)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(HOSTEMU_BINARY, argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(out);
    }
    std::string FirstLine(int millis) {
        std::string line;
        char ch;
        pollfd p{out, POLLIN, 0};
        while (poll(&p, 1, millis) > 0 && read(out, &ch, 1) == 1 && ch != '\n')
            line += ch;
        return line;
    }
    // The exit status, or -1 after millis.
    int Exit(int millis) {
        for (int waited = 0; waited < millis; waited += 20, Platform::sleepMillis(20)) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }
    pid_t pid = -1;
    int out = -1;
};

const std::string kIni = std::string(HOSTEMU_SAMPLE_DIR) + "/hostemu.ini";

} // namespace

TEST(Binary, StartsWithTheSampleCatalogueAndStopsOnSigterm) {
    ScratchDir dir;
    Child c({"-c", kIni, "-p", "0"}, dir.file("err"));
    const std::string line = c.FirstLine(20000);
    ASSERT_FALSE(line.empty()) << ReadFile(dir.file("err"));
    const uint16_t port = static_cast<uint16_t>(std::stoi(line));
    PcClient pc;
    ASSERT_EQ(pc.Connect(port, "VEXUSR1", "VEXPWD1"), CM_OK);
    EXPECT_EQ(pc.Ask("PHGPODIR", "VEXUSR1.JCL").size(), 7u);
    PcClient phrase; // the pass phrase user of the sample
    EXPECT_EQ(phrase.Connect(port, "VEXUSR2", "correct horse battery staple"), CM_OK);
    phrase.Close();
    ASSERT_EQ(kill(c.pid, SIGTERM), 0);
    EXPECT_EQ(c.Exit(15000), 0);
    // The open conversation was ended normally and the temporary catalogue is gone.
    std::vector<Block> blocks;
    int32_t rc = pc.Send("PHREADY", "");
    if (rc == CM_OK)
        rc = pc.Answer(blocks);
    EXPECT_EQ(rc, CM_DEALLOCATED_NORMAL);
    const std::string err = ReadFile(dir.file("err"));
    const size_t at = err.find("catalogue ");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_FALSE(Platform::pathExists(err.substr(at + 10, err.find(' ', at + 10) - at - 10))) << err;
}

TEST(Binary, RefusesBadCommandLinesAndNonLoopbackAddresses) {
    ScratchDir dir;
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> bad = {
        {{"-l", "0.0.0.0"}, 1, "loopback"}, {{"--fault", "EXPLODE=1"}, 2, "UNKNOWN FAULT SWITCH EXPLODE"}};
    for (const auto& b : bad) {
        Child c(std::get<0>(b), dir.file("err"));
        EXPECT_EQ(c.Exit(10000), std::get<1>(b));
        EXPECT_NE(ReadFile(dir.file("err")).find(std::get<2>(b)), std::string::npos) << ReadFile(dir.file("err"));
    }
    Child help({"-h"}, dir.file("err"));
    EXPECT_EQ(help.FirstLine(5000).substr(0, 22), "Usage: vexlink-hostemu");
    EXPECT_EQ(help.Exit(10000), 0);
}
