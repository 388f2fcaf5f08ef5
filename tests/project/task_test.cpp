#include "task.h"
#include "wakeup.h"

#include "platform/platform.h"
#include "scratchdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <system_error>

namespace {

struct Shared {
    EMutex lock;
    int64_t value = 0; // plain on purpose: only ever touched under the lock
    std::atomic<int32_t> runs{0}, ready{0}, code{0}, finished{0};
    Task task;
    Task* owned = nullptr;
};

void AddUnderLock(void* arg)
{
    Shared* s = static_cast<Shared*>(arg);
    s->runs++;
    for (int i = 0; i < 20000; ++i) {
        ELock lock(&s->lock);
        const int64_t v = s->value;
        s->value = v + 1;
    }
}

void WaitReady(Shared* s)
{
    while (!s->ready) // until CreateTask has stored the thread
        Task::Sleep(1);
}

void JoinMyself(void* arg)
{
    Shared* s = static_cast<Shared*>(arg);
    WaitReady(s);
    try {
        s->task.WaitForEnd();
    } catch (const std::system_error& e) {
        s->code = e.code().value();
    }
    s->finished = 1;
}

void DeleteMyself(void* arg)
{
    Shared* s = static_cast<Shared*>(arg);
    WaitReady(s);
    delete s->owned;
    s->finished = 1;
}

void SleepThenMark(void* arg)
{
    Task::Sleep(300);
    static_cast<Shared*>(arg)->finished = 1;
}

} // namespace

TEST(Task, ELockExcludesOtherThreadsUntilItsScopeEnds)
{
    Shared s;
    Task tasks[4];
    {
        ELock lock(&s.lock);
        for (Task& t : tasks)
            ASSERT_TRUE(t.CreateTask(AddUnderLock, "adder", &s));
        Task::Sleep(100);
        EXPECT_EQ(s.value, 0); // blocked while this scope holds the lock
        s.value = 1000;
    }
    for (Task& t : tasks)
        t.WaitForEnd();
    EXPECT_EQ(s.runs.load(), 4);
    EXPECT_EQ(s.value, 1000 + 4 * 20000);
}

TEST(Task, StartsOnceAndJoinsOnce)
{
    Shared s;
    Task task;
    EXPECT_THROW(task.WaitForEnd(), std::system_error); // never started
    ASSERT_TRUE(task.CreateTask(AddUnderLock, "first", &s));
    EXPECT_FALSE(task.CreateTask(AddUnderLock, "second", &s));
    task.WaitForEnd();
    EXPECT_FALSE(task.CreateTask(AddUnderLock, "third", &s));
    EXPECT_THROW(task.WaitForEnd(), std::system_error); // joined already
    EXPECT_EQ(s.runs.load(), 1);
}

TEST(Task, SelfJoinRefusedSelfDeleteAndDestructorWait)
{
    Shared self;
    ASSERT_TRUE(self.task.CreateTask(JoinMyself, "self", &self));
    self.ready = 1;
    self.task.WaitForEnd();
    EXPECT_EQ(self.code.load(), static_cast<int32_t>(std::errc::resource_deadlock_would_occur));

    Shared del; // destroyed by its own thread: neither deadlock nor abort
    del.owned = new Task;
    ASSERT_TRUE(del.owned->CreateTask(DeleteMyself, "self-delete", &del));
    del.ready = 1;
    for (uint64_t start = Platform::monotonicMillis(); !del.finished && Platform::monotonicMillis() - start < 5000;)
        Task::Sleep(5);
    EXPECT_EQ(del.finished.load(), 1);
    Task::Sleep(20); // let the detached thread run out

    Shared slow;
    Task* task = new Task;
    ASSERT_TRUE(task->CreateTask(SleepThenMark, "slow", &slow));
    delete task; // blocks until the entry has returned
    EXPECT_EQ(slow.finished.load(), 1);
}

TEST(Wakeup, ChangeBetweenLookAndWaitIsNotMissed)
{
    // A change announced between noting the generation and waiting ends the wait at once.
    Wakeup wake;
    const uint64_t seen = wake.Generation();
    wake.Notify();
    EXPECT_TRUE(wake.WaitChange(seen, 60000));
    EXPECT_FALSE(wake.WaitChange(wake.Generation(), 0));
}

#if defined(__linux__)
TEST(FileChangeWatch, WakesForTheDatabaseFilesOnly)
{
    // The send thread wakes on the database, journal or WAL, not on a download beside them, and
    // a change seen once is not reported again.
    ScratchDir dir;
    Platform::FileChangeWatch watch;
    ASSERT_TRUE(watch.start(dir.path(), "q.db"));
    dir.write("20261207-1234.tmp", "record\n");
    EXPECT_FALSE(watch.wait(0));
    const std::string journal = dir.write("q.db-journal", "x");
    EXPECT_TRUE(watch.wait(0));
    EXPECT_FALSE(watch.wait(0));
    std::remove(journal.c_str());
    EXPECT_TRUE(watch.wait(0));
}
#endif
