#include "queuetest.h"

#include "platform/platform.h"
#include "trash.h"

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
    // A file no one can remove, root included.
    const std::string target = "/proc/self/status";
    const std::string after = m_dir.write("after", "x");
    Trash::Register(target);
    Trash::Register(after);
    LogCapture log;
    const uint64_t start = Platform::monotonicMillis();
    DestroyTrash();
    const uint64_t elapsed = Platform::monotonicMillis() - start;
    EXPECT_TRUE(FileExists(target));
    EXPECT_GE(elapsed, 1000u);
    EXPECT_FALSE(FileExists(after)); // the next entry is handled after the one that stayed
    EXPECT_EQ((std::vector<std::string>{"X140 TRASH: File " + target + " can't be deleted, probably is in use",
                                        "X140 TRASH: File " + after + " has been deleted"}),
              log.Lines());
}

} // namespace
