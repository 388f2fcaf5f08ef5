// The physical limit of a transfer on this machine: the same bytes as a
// vexlink transfer, sent over a plain loopback TCP connection and written to
// a file in the given directory by the receiving side (as a download file is
// written). The sender writes either one record per write (chunk 0, the
// default) or as many whole records as fit into chunk bytes per write (the
// real limit: large writes). Prints one line: records, bytes, seconds, MB/s,
// records/s.
//
//   transfer_baseline <record size> <total bytes> <directory> [chunk]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

bool WriteAll(int fd, const char* data, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w <= 0)
            return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: transfer_baseline <record size> <total bytes> <directory> [chunk]\n");
        return 2;
    }
    const size_t chunk = argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 0;
    const size_t recordSize = std::strtoul(argv[1], nullptr, 10);
    const unsigned long long total = std::strtoull(argv[2], nullptr, 10);
    const std::string path = std::string(argv[3]) + "/transfer_baseline.out";
    if (recordSize == 0 || recordSize > 32000)
        return 2;
    const unsigned long long records = total / recordSize;

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("listen");
        return 1;
    }

    unsigned long long received = 0;
    std::thread receiver([&]() {
        const int fd = ::accept(listener, nullptr, nullptr);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            std::fwrite(buffer.data(), 1, static_cast<size_t>(n), out);
            received += static_cast<unsigned long long>(n);
        }
        std::fclose(out);
        ::close(fd);
    });

    const auto start = std::chrono::steady_clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        std::perror("connect");
        return 1;
    }
    // Records go one per write, or whole records gathered into chunks.
    const size_t perWrite = chunk < recordSize ? 1 : chunk / recordSize;
    std::vector<char> out(perWrite * recordSize, 'x');
    size_t filled = 0;
    for (unsigned long long i = 0; i < records; ++i) {
        out[filled * recordSize] = static_cast<char>(i);
        if (++filled == perWrite) {
            if (!WriteAll(fd, out.data(), filled * recordSize))
                break;
            filled = 0;
        }
    }
    if (filled > 0)
        WriteAll(fd, out.data(), filled * recordSize);
    ::shutdown(fd, SHUT_WR);
    receiver.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    ::close(listener);
    std::remove(path.c_str());
    std::printf("records=%llu bytes=%llu seconds=%.3f MBps=%.1f recps=%.0f\n", records, received, seconds,
                static_cast<double>(received) / 1e6 / seconds, static_cast<double>(records) / seconds);
    return received == records * recordSize ? 0 : 1;
}
