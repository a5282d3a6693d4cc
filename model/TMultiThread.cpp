#include "TMultiThread.h"

#include <algorithm>

namespace {

int32_t DefaultThreadCount()
{
    return std::max(1, int32_t(std::thread::hardware_concurrency()));
}

} // namespace

TMultiThread::TMultiThread(int32_t aNumberOfThreads, QObject* parent)
    : QObject(parent), NumberOfThreads(aNumberOfThreads > 0 ? aNumberOfThreads : DefaultThreadCount())
{
    fRunningThreads = NumberOfThreads;
    fThreads.reserve(NumberOfThreads);
    try {
        for (int32_t i = 0; i < NumberOfThreads; ++i) {
            auto worker = std::make_unique<TItemThread>();
            TItemThread& w = *worker;
            w.Thread = std::thread([this, &w] { Execute(w); });
            fThreads.push_back(std::move(worker));   // cannot throw: reserved
        }
    } catch (...) {
        // The destructor will not run: end the workers already started, or their threads terminate us.
        Shutdown();
        throw;
    }
}

TMultiThread::~TMultiThread()
{
    Shutdown();
}

void TMultiThread::Shutdown()
{
    Aborted = true;
    WaitAll();
    fTerminating = true;
    for (auto& worker : fThreads)
        worker->Event.Set();
    for (auto& worker : fThreads)
        if (worker->Thread.joinable())
            worker->Thread.join();
}

void TMultiThread::MakeChunks(int32_t Count, int32_t ChunkSize, int32_t NumberOfThreads, TIntVector& Indices,
                              TIntVector& Sizes)
{
    Count = std::max(Count, 0);
    Indices.clear();
    Sizes.clear();
    if (ChunkSize <= 0) {
        const int32_t q = Count / NumberOfThreads;
        const int32_t r = Count % NumberOfThreads;
        int32_t start = 0;
        for (int32_t i = 0; i < NumberOfThreads; ++i) {
            const int32_t size = i < r ? q + 1 : q;
            Indices.push_back(start);
            Sizes.push_back(size);
            start += size;
        }
        return;
    }
    const int32_t chunks = Count / ChunkSize + (Count % ChunkSize > 0 ? 1 : 0);
    for (int32_t i = 0; i < chunks; ++i) {
        Indices.push_back(i * ChunkSize);
        Sizes.push_back(std::min(ChunkSize, Count - i * ChunkSize));
    }
}

bool TMultiThread::StartRun(int32_t Count, int32_t ChunkSize, bool waitMode)
{
    if (!ProcessItem)
        return false;
    Stop();
    // Every worker is idle now: the queue and the flags below are ours until the workers are woken.
    fRunItem = ProcessItem;
    MakeChunks(Count, ChunkSize, NumberOfThreads, fIndices, fSizes);
    fCurrentChunk = 0;
    fRunningThreads = NumberOfThreads;
    // Set only now, so that a run stopped above still posts its own end notification.
    fRunAndWaitMode = waitMode;
    fItemFailed = false;
    Aborted = false;
    for (auto& worker : fThreads) {
        worker->Ready.Reset();
        worker->Event.Set();
    }
    return true;
}

void TMultiThread::Run(int32_t Count, int32_t ChunkSize)
{
    StartRun(Count, ChunkSize, false);
}

void TMultiThread::RunAndWait(int32_t Count, int32_t ChunkSize)
{
    const bool started = StartRun(Count, ChunkSize, true);
    WaitAll();
    fRunAndWaitMode = false;
    const bool success = !(started && fItemFailed);
    if (OnTerminate)
        OnTerminate(success);
}

void TMultiThread::Process(TOnProcessItem aProcessItem, int32_t Count, int32_t ChunkSize)
{
    ProcessItem = std::move(aProcessItem);
    RunAndWait(Count, ChunkSize);
}

void TMultiThread::Stop()
{
    Aborted = true;
    WaitAll();
}

void TMultiThread::WaitAll()
{
    for (auto& worker : fThreads)
        worker->Ready.Wait();
}

void TMultiThread::Execute(TItemThread& worker)
{
    for (;;) {
        worker.Ready.Set();
        worker.Event.Wait();
        worker.Event.Reset();
        if (fTerminating)
            return;
        TakeChunks();
    }
}

void TMultiThread::TakeChunks()
{
    int32_t index = 0;
    int32_t size = 0;
    while (GetChunk(index, size)) {
        try {
            fRunItem(index, size);
        } catch (...) {
            // This worker leaves the run, but is counted out like the others so that the run ends.
            fItemFailed = true;
            std::lock_guard lock(fLock);
            CountOutLocked();
            return;
        }
    }
}

bool TMultiThread::GetChunk(int32_t& Index, int32_t& Size)
{
    std::lock_guard lock(fLock);
    if (fCurrentChunk >= int32_t(fIndices.size()) || Aborted) {
        CountOutLocked();
        return false;
    }
    Index = fIndices[fCurrentChunk];
    Size = fSizes[fCurrentChunk];
    ++fCurrentChunk;
    return true;
}

void TMultiThread::CountOutLocked()
{
    if (--fRunningThreads > 0 || fRunAndWaitMode)
        return;
    const bool success = !Aborted && !fItemFailed;
    // Posted before this worker sets Ready, so the destructor (which waits for Ready) always runs
    // after the post; Qt then drops the event with the object instead of calling a dead `this`.
    QMetaObject::invokeMethod(
        this,
        [this, success] {
            if (OnTerminate)
                OnTerminate(success);
        },
        Qt::QueuedConnection);
}
