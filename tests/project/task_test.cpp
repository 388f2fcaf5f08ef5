#include "task.h"
#include "wakeup.h"

#include "platform/platform.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <system_error>

namespace {

struct Counter {
    EMutex lock;
    int64_t value = 0; // plain on purpose: only ever touched under the lock
    std::atomic<int32_t> runs{0};
};

void AddUnderLock(void* arg)
{
    Counter* c = static_cast<Counter*>(arg);
    c->runs++;
    for (int i = 0; i < 20000; ++i) {
        ELock lock(&c->lock);
        const int64_t v = c->value;
        c->value = v + 1;
    }
}

void CountRun(void* arg)
{
    static_cast<std::atomic<int32_t>*>(arg)->fetch_add(1);
}

struct SlowEnd {
    std::atomic<int32_t> done{0};
};

void SleepThenMark(void* arg)
{
    Task::Sleep(300);
    static_cast<SlowEnd*>(arg)->done = 1;
}

struct SelfJoin {
    Task task;
    std::atomic<int32_t> ready{0};
    std::atomic<int32_t> code{0};
    std::atomic<int32_t> finished{0};
};

void JoinMyself(void* arg)
{
    SelfJoin* s = static_cast<SelfJoin*>(arg);
    while (!s->ready) // until CreateTask has stored the thread
        Task::Sleep(1);
    try {
        s->task.WaitForEnd();
    } catch (const std::system_error& e) {
        s->code = e.code().value();
    }
    s->finished = 1;
}

struct SelfDelete {
    Task* task = nullptr;
    std::atomic<int32_t> ready{0};
    std::atomic<int32_t> deleted{0};
};

void DeleteMyself(void* arg)
{
    SelfDelete* s = static_cast<SelfDelete*>(arg);
    while (!s->ready)
        Task::Sleep(1);
    delete s->task;
    s->deleted = 1;
}

} // namespace

TEST(Task, ELockExcludesOtherThreadsUntilItsScopeEnds)
{
    Counter counter;
    Task tasks[4];
    {
        ELock lock(&counter.lock);
        for (Task& t : tasks)
            ASSERT_TRUE(t.CreateTask(AddUnderLock, "adder", &counter));
        Task::Sleep(100);
        // The workers are blocked while this scope holds the lock.
        EXPECT_EQ(counter.value, 0);
        counter.value = 1000;
    }
    for (Task& t : tasks)
        t.WaitForEnd();
    EXPECT_EQ(counter.runs.load(), 4);
    EXPECT_EQ(counter.value, 1000 + 4 * 20000);
}

TEST(Task, StartsOnceWithItsArgument)
{
    std::atomic<int32_t> runs{0};
    Task task;
    ASSERT_TRUE(task.CreateTask(CountRun, "first", &runs));
    // A second start is refused and starts nothing, also after the join.
    EXPECT_FALSE(task.CreateTask(CountRun, "second", &runs));
    task.WaitForEnd();
    EXPECT_FALSE(task.CreateTask(CountRun, "third", &runs));
    Task::Sleep(50);
    EXPECT_EQ(runs.load(), 1);
}

TEST(Task, WaitForEndFailsWithoutAThread)
{
    std::atomic<int32_t> runs{0};
    Task task;
    // Never started: no thread to join.
    EXPECT_THROW(task.WaitForEnd(), std::system_error);

    ASSERT_TRUE(task.CreateTask(CountRun, "quick", &runs));
    task.WaitForEnd();
    EXPECT_EQ(runs.load(), 1);
    // Joined: a second wait has no thread any more.
    EXPECT_THROW(task.WaitForEnd(), std::system_error);
}

TEST(Task, WaitForEndFromTheTaskItselfIsRefused)
{
    SelfJoin s;
    ASSERT_TRUE(s.task.CreateTask(JoinMyself, "self", &s));
    s.ready = 1;
    s.task.WaitForEnd();
    EXPECT_EQ(s.finished.load(), 1);
    EXPECT_EQ(s.code.load(), static_cast<int32_t>(std::errc::resource_deadlock_would_occur));
}

TEST(Task, DestructorWaitsForARunningThread)
{
    SlowEnd slow;
    Task* task = new Task;
    ASSERT_TRUE(task->CreateTask(SleepThenMark, "slow", &slow));
    EXPECT_EQ(slow.done.load(), 0);
    delete task; // blocks until the entry has returned
    EXPECT_EQ(slow.done.load(), 1);
}

TEST(Task, DestroyedByItsOwnThreadNeitherDeadlocksNorAborts)
{
    SelfDelete s;
    s.task = new Task;
    ASSERT_TRUE(s.task->CreateTask(DeleteMyself, "self-delete", &s));
    s.ready = 1;
    const uint64_t start = Platform::monotonicMillis();
    while (!s.deleted && Platform::monotonicMillis() - start < 5000)
        Task::Sleep(5);
    EXPECT_EQ(s.deleted.load(), 1);
    Task::Sleep(20); // let the detached thread run out
}


TEST(Wakeup, ChangeBetweenLookAndWaitIsNotMissed)
{
    // A waiter notes the generation, looks at the state, then waits: a
    // change announced in between ends the wait at once (else the waiter
    // would sleep its whole limit with the change unseen).
    Wakeup wake;
    const uint64_t seen = wake.Generation();
    wake.Notify();
    EXPECT_TRUE(wake.WaitChange(seen, 60000));
    EXPECT_FALSE(wake.WaitChange(wake.Generation(), 0));
}

#if defined(__linux__)
TEST(FileChangeWatch, WakesForTheDatabaseFilesOnly)
{
    // The engine's send thread wakes on the database, its journal or WAL;
    // a download written into the same directory must not wake it, and a
    // change seen once is not reported again.
    TempDir dir;
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
