#include "queuetest.h"

#include "platform/platform.h"
#include "trash.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace {

class TrashTest : public QueueTest {
protected:
    void SetUp() override
    {
        QueueTest::SetUp();
        g_pTrash = new Trash();
    }
    void TearDown() override
    {
        DestroyTrash();
        QueueTest::TearDown();
    }
    void DestroyTrash()
    {
        delete g_pTrash;
        g_pTrash = nullptr;
    }
};

// Sets or clears the immutable attribute; false where the file system or the rights do not allow it.
bool SetImmutable(const std::string& path, bool on)
{
    const int fd = open(path.c_str(), O_RDONLY);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

TEST_F(TrashTest, DeletesRegisteredFilesFromSeveralThreadsAndSkipsMissingOnesAndDirectories)
{
    const std::string a = m_dir.write("a.db", "db"), b = m_dir.write("download-1", "line\n");
    const std::string missing = m_dir.file("never-written"), dir = m_dir.file("workdir");
    ASSERT_TRUE(Platform::makeDir(dir));
    m_dir.write("workdir/keep", "x");
    LogCapture log;
    for (const std::string& p : {a, missing, dir, b, b}) // the second pass finds b gone
        Trash::Register(p);
    EXPECT_EQ(2u, log.Count("X140 TRASH: New file created " + b));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 25; ++i)
                Trash::Register(m_dir.write("t" + std::to_string(t * 25 + i), "x"));
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(105u, g_pTrash->GetCount());
    EXPECT_TRUE(FileExists(a));
    log.Clear();
    DestroyTrash();
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(
        (std::vector<std::string>{"X140 TRASH: File " + a + " has been deleted",
                                  "X140 TRASH: File " + missing + " can't be deleted, probably doesn't exist yet (OK)",
                                  "X140 TRASH: " + dir + " is not a regular file and is not deleted",
                                  "X140 TRASH: File " + b + " has been deleted",
                                  "X140 TRASH: File " + b + " can't be deleted, probably doesn't exist yet (OK)"}),
        std::vector<std::string>(lines.begin(), lines.begin() + 5));
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(FileExists(m_dir.file("t" + std::to_string(i))));
    EXPECT_FALSE(FileExists(a));
    EXPECT_TRUE(FileExists(dir + "/keep")); // directories are never removed
    // Without a registry a registration is only logged.
    Trash::Register(m_dir.write("orphan", "x"));
    EXPECT_TRUE(FileExists(m_dir.file("orphan")));
}

TEST_F(TrashTest, FileThatCannotBeRemovedIsRetriedForAboutASecondAndLeft)
{
    std::string target = m_dir.write("stuck", "in use");
    const std::string after = m_dir.write("after", "x");
    const bool immutable = SetImmutable(target, true);
    const std::string lockedDir = m_dir.file("locked");
    if (!immutable && geteuid() != 0) { // a folder without write permission keeps its files
        ASSERT_TRUE(Platform::makeDir(lockedDir));
        target = m_dir.write("locked/stuck", "in use");
        ASSERT_EQ(0, chmod(lockedDir.c_str(), 0555));
    } else if (!immutable) {
        target = "/proc/self/status"; // root without the attribute: a file no one can remove
    }
    Trash::Register(target);
    Trash::Register(after);
    LogCapture log;
    const uint64_t start = Platform::monotonicMillis();
    DestroyTrash();
    const uint64_t elapsed = Platform::monotonicMillis() - start;
    if (immutable)
        SetImmutable(target, false);
    chmod(lockedDir.c_str(), 0755);
    EXPECT_TRUE(FileExists(target));
    EXPECT_GE(elapsed, 1000u);
    EXPECT_FALSE(FileExists(after)); // the next entry is handled after the one that stayed
    EXPECT_EQ((std::vector<std::string>{"X140 TRASH: File " + target + " can't be deleted, probably is in use",
                                        "X140 TRASH: File " + after + " has been deleted"}),
              log.Lines());
}

} // namespace
