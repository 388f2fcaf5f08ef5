#include "queuetest.h"

#include "platform/platform.h"
#include "trash.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
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
        delete g_pTrash;
        g_pTrash = nullptr;
        QueueTest::TearDown();
    }
    void DestroyTrash()
    {
        delete g_pTrash;
        g_pTrash = nullptr;
    }
};

// Sets or clears the immutable attribute; false when the file system or the
// process's rights do not allow it.
bool SetImmutable(const std::string& path, bool on)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

TEST_F(TrashTest, DeletesRegisteredFilesAndSkipsMissingOnesAndDirectories)
{
    const std::string a = m_dir.file("a.db");
    const std::string b = m_dir.file("download-1");
    const std::string missing = m_dir.file("never-written");
    const std::string emptyDir = m_dir.file("workdir");
    const std::string fullDir = m_dir.file("fulldir");
    WriteFile(a, "db");
    WriteFile(b, "line\n");
    ASSERT_TRUE(Platform::makeDir(emptyDir));
    ASSERT_TRUE(Platform::makeDir(fullDir));
    WriteFile(fullDir + "/keep", "x");

    LogCapture log;
    Trash::Register(a);
    Trash::Register(missing);
    Trash::Register(emptyDir);
    Trash::Register(fullDir);
    Trash::Register(b);
    Trash::Register(b); // the second pass finds it gone
    EXPECT_EQ(6u, g_pTrash->GetCount());
    EXPECT_TRUE(FileExists(a));

    EXPECT_EQ(2u, log.Count("X140 TRASH: New file created " + b));
    log.Clear();
    DestroyTrash();
    EXPECT_EQ((std::vector<std::string>{
                  "X140 TRASH: File " + a + " has been deleted",
                  "X140 TRASH: File " + missing + " can't be deleted, probably doesn't exist yet (OK)",
                  "X140 TRASH: " + emptyDir + " is not a regular file and is not deleted",
                  "X140 TRASH: " + fullDir + " is not a regular file and is not deleted",
                  "X140 TRASH: File " + b + " has been deleted",
                  "X140 TRASH: File " + b + " can't be deleted, probably doesn't exist yet (OK)",
              }),
              log.Lines());
    EXPECT_FALSE(FileExists(a));
    EXPECT_FALSE(FileExists(b));
    EXPECT_FALSE(FileExists(missing));
    // Directories are never removed, empty or not.
    EXPECT_TRUE(Platform::isDirectory(emptyDir));
    EXPECT_TRUE(FileExists(fullDir + "/keep"));
}

TEST_F(TrashTest, FileThatCannotBeRemovedIsRetriedForAboutASecondAndLeft)
{
    const std::string stuck = m_dir.file("stuck");
    const std::string after = m_dir.file("after");
    WriteFile(stuck, "in use");
    WriteFile(after, "x");
    std::string target = stuck;
    std::string lockedDir;
    bool immutable = SetImmutable(stuck, true);
    if (!immutable) {
        if (geteuid() != 0) {
            // Without the attribute: a folder without write permission
            // keeps its files for a process that is not root.
            lockedDir = m_dir.file("locked");
            ASSERT_TRUE(Platform::makeDir(lockedDir));
            target = lockedDir + "/stuck";
            WriteFile(target, "in use");
            ASSERT_EQ(0, chmod(lockedDir.c_str(), 0555));
        } else {
            // Root on a file system without the attribute: a process file is
            // a regular file that no one can remove.
            target = "/proc/self/status";
        }
    }
    // Whatever the outcome, the scratch folder must be removable afterwards.
    struct Restore {
        std::function<void()> undo;
        ~Restore() { undo(); }
    } restore{[&] {
        if (immutable)
            SetImmutable(stuck, false);
        if (!lockedDir.empty())
            chmod(lockedDir.c_str(), 0755);
    }};
    Trash::Register(target);
    Trash::Register(after);

    LogCapture log;
    const uint64_t start = Platform::monotonicMillis();
    DestroyTrash();
    const uint64_t elapsed = Platform::monotonicMillis() - start;

    EXPECT_TRUE(FileExists(target));
    EXPECT_GE(elapsed, 1000u);
    // The next entry is handled after the one that stayed.
    EXPECT_FALSE(FileExists(after));
    EXPECT_EQ((std::vector<std::string>{"X140 TRASH: File " + target + " can't be deleted, probably is in use",
                                        "X140 TRASH: File " + after + " has been deleted"}),
              log.Lines());
}

TEST_F(TrashTest, RegistrationFromSeveralThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 25; ++i) {
                const std::string path = m_dir.file("t" + std::to_string(t) + "-" + std::to_string(i));
                WriteFile(path, "x");
                Trash::Register(path);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(100u, g_pTrash->GetCount());
    DestroyTrash();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i)
            EXPECT_FALSE(FileExists(m_dir.file("t" + std::to_string(t) + "-" + std::to_string(i))));

    // Without a registry a registration is only logged.
    const std::string orphan = m_dir.file("orphan");
    WriteFile(orphan, "x");
    Trash::Register(orphan);
    EXPECT_TRUE(FileExists(orphan));
}

} // namespace
