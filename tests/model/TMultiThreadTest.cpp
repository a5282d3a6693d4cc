#include "EventLoopWait.h"
#include "TMultiThread.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <stdexcept>

using namespace std::chrono_literals;

namespace {

struct TChunkCase {
    int32_t Count, ChunkSize, Threads;
    TIntVector Indices, Sizes;
};


// Lets the event loop deliver anything already posted.
void Drain()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
}

class TMultiThreadTest : public testing::Test {
protected:
    ~TMultiThreadTest() override { Gate.Set(); }   // never leave a worker blocked in a failed test

    void MakePool(int32_t threads)
    {
        Pool = std::make_unique<TMultiThread>(threads);
        Pool->OnTerminate = [this](bool success) {
            Results.push_back(success);
            OnCreatingThread = OnCreatingThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }

    // Counts every item of every chunk.
    TOnProcessItem Counting()
    {
        return [this](int32_t index, int32_t size) {
            for (int32_t i = index; i < index + size; ++i)
                ++Hits[i];
        };
    }

    // Each chunk waits for Gate before counting its items.
    TOnProcessItem Gated()
    {
        return [this](int32_t index, int32_t size) {
            ++Started;
            Gate.Wait();
            Counting()(index, size);
        };
    }

    int TotalHits() const
    {
        return std::accumulate(Hits.begin(), Hits.end(), 0, [](int s, const std::atomic<int>& h) { return s + h; });
    }

    // Two workers each holding one gated chunk of a 50-chunk run.
    void StartTwoHeldChunks()
    {
        MakePool(2);
        Pool->ProcessItem = Gated();
        Pool->Run(50, 1);
        ASSERT_TRUE(WaitFor([&] { return Started == 2; }));
    }

    // Opens the gate from another thread a little later, while this one blocks in the pool.
    std::thread ReleaseGateLater()
    {
        return std::thread([this] {
            std::this_thread::sleep_for(50ms);
            Gate.Set();
        });
    }

    bool WaitForResults(size_t n)
    {
        return WaitFor([&] { return Results.size() >= n; });
    }

    TEvent Gate;
    std::atomic<int> Started{0};
    std::vector<std::atomic<int>> Hits = std::vector<std::atomic<int>>(200);
    std::vector<bool> Results;
    bool OnCreatingThread = true;
    std::unique_ptr<TMultiThread> Pool;
};

} // namespace

TEST(TMultiThreadChunks, Tables)
{
    const TChunkCase cases[] = {
        {10, 0, 4, {0, 3, 6, 8}, {3, 3, 2, 2}},
        {10, 3, 4, {0, 3, 6, 9}, {3, 3, 3, 1}},
        {10, 5, 4, {0, 5}, {5, 5}},
        {3, 0, 8, {0, 1, 2, 3, 3, 3, 3, 3}, {1, 1, 1, 0, 0, 0, 0, 0}},
        {0, 0, 2, {0, 0}, {0, 0}},
        {0, 4, 2, {}, {}},
        {-5, 0, 2, {0, 0}, {0, 0}},
        {7, -1, 2, {0, 4}, {4, 3}},
    };
    for (const auto& c : cases) {
        TIntVector indices{99}, sizes{99};
        TMultiThread::MakeChunks(c.Count, c.ChunkSize, c.Threads, indices, sizes);
        EXPECT_EQ(indices, c.Indices) << c.Count << " / " << c.ChunkSize << " / " << c.Threads;
        EXPECT_EQ(sizes, c.Sizes) << c.Count << " / " << c.ChunkSize << " / " << c.Threads;
    }
}

TEST(TMultiThreadChunks, DefaultWorkerCountIsProcessorCount)
{
    TMultiThread pool(0);
    EXPECT_EQ(pool.NumberOfThreads, std::max(1, int32_t(std::thread::hardware_concurrency())));
}

TEST_F(TMultiThreadTest, AsynchronousRunEndsOnCreatingThread)
{
    MakePool(3);
    Pool->ProcessItem = Counting();
    Pool->Run(100, 7);
    EXPECT_TRUE(Results.empty());   // only the event loop delivers the end
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(Results, std::vector<bool>{true});
    EXPECT_TRUE(OnCreatingThread);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(Hits[i], 1) << i;
    Drain();
    EXPECT_EQ(Results.size(), 1u);
}

TEST_F(TMultiThreadTest, EmptyRangeHandsOutEmptyChunksOnlyWithoutChunkSize)
{
    MakePool(3);
    std::atomic<int> calls{0};
    Pool->ProcessItem = [&](int32_t index, int32_t size) {
        EXPECT_EQ(index, 0);
        EXPECT_EQ(size, 0);
        ++calls;
    };
    Pool->Run(0, 0);
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(calls, 3);
    Pool->Run(0, 5);
    ASSERT_TRUE(WaitForResults(2));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(Results, (std::vector<bool>{true, true}));
}

TEST_F(TMultiThreadTest, AbortedEndsRunAfterHeldChunks)
{
    ASSERT_NO_FATAL_FAILURE(StartTwoHeldChunks());
    Pool->Aborted = true;
    Gate.Set();
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(Results, std::vector<bool>{false});
    EXPECT_EQ(TotalHits(), 2);   // the two chunks already held, nothing more
}

TEST_F(TMultiThreadTest, StopWaitsForHeldChunks)
{
    ASSERT_NO_FATAL_FAILURE(StartTwoHeldChunks());
    std::thread release = ReleaseGateLater();
    Pool->Stop();
    EXPECT_EQ(TotalHits(), 2);   // both held chunks finished before Stop returned
    release.join();
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(Results, std::vector<bool>{false});
}

TEST_F(TMultiThreadTest, StopOnIdlePoolReturnsAndReportsNothing)
{
    MakePool(3);
    Pool->Stop();   // right after construction
    Pool->Stop();
    Drain();
    EXPECT_TRUE(Results.empty());
    Pool->ProcessItem = Counting();
    Pool->Run(10);   // Run clears Aborted
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(Results, std::vector<bool>{true});
    EXPECT_EQ(TotalHits(), 10);
}

TEST_F(TMultiThreadTest, ThrowingItemStillEndsRunWithFailure)
{
    MakePool(2);
    Pool->ProcessItem = [this](int32_t index, int32_t size) {
        if (index == 3)
            throw std::runtime_error("item failed");
        Counting()(index, size);
    };
    Pool->Run(10, 1);
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(Results, std::vector<bool>{false});
    EXPECT_EQ(Hits[3], 0);
    EXPECT_EQ(TotalHits(), 9);   // the other worker went on with the remaining chunks

    Pool->ProcessItem = Counting();
    Pool->Run(10, 1);   // the failure belongs to the earlier run only
    ASSERT_TRUE(WaitForResults(2));
    EXPECT_TRUE(Results[1]);
}

TEST_F(TMultiThreadTest, RunAndWaitReportsSynchronously)
{
    MakePool(3);
    Pool->Process(Counting(), 100, 0);
    EXPECT_EQ(Results, std::vector<bool>{true});
    EXPECT_EQ(TotalHits(), 100);

    // Aborting a synchronous run still reports true; a throwing item reports false.
    Pool->Process([this](int32_t, int32_t) { Pool->Aborted = true; }, 100, 1);
    Pool->Process([](int32_t, int32_t) { throw std::runtime_error("item failed"); }, 4, 1);
    EXPECT_EQ(Results, (std::vector<bool>{true, true, false}));
    Drain();
    EXPECT_EQ(Results.size(), 3u);   // nothing queued besides
}

TEST_F(TMultiThreadTest, SynchronousRunKeepsEndOfInterruptedAsynchronousRun)
{
    ASSERT_NO_FATAL_FAILURE(StartTwoHeldChunks());
    std::thread release = ReleaseGateLater();
    Pool->Process(Counting(), 10, 0);   // stops the first run, then runs to its end
    release.join();
    ASSERT_TRUE(WaitForResults(2));
    EXPECT_EQ(Results, (std::vector<bool>{true, false}));   // the earlier run's end comes through the loop
}

TEST_F(TMultiThreadTest, RunWithoutProcessItemDoesNothing)
{
    MakePool(2);
    Pool->ProcessItem = Gated();
    Pool->Run(4, 1);
    ASSERT_TRUE(WaitFor([&] { return Started == 2; }));
    Pool->ProcessItem = nullptr;
    Pool->Run(10);   // would block in Stop if it stopped the run in progress
    EXPECT_FALSE(Pool->Aborted);
    Gate.Set();
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(Results, std::vector<bool>{true});
    EXPECT_EQ(TotalHits(), 4);
}

TEST_F(TMultiThreadTest, NotificationQueuedAtDestructionIsDropped)
{
    MakePool(2);
    Pool->ProcessItem = Counting();
    Pool->Run(10);
    Pool->Stop();    // every worker idle: the end of the run has been posted
    Pool.reset();
    Drain();
    EXPECT_TRUE(Results.empty());
}
