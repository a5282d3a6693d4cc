// A pool of worker threads that processes the items 0 .. Count - 1 of a run in chunks.
#pragma once

#include "TEvent.h"
#include "Types.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// End of a run; Success is false when the run was aborted or a work item threw.
using TOnTerminate = std::function<void(bool Success)>;
// One chunk of a run: the items Index .. Index + Size - 1. Size may be 0 (then do nothing).
using TOnProcessItem = std::function<void(int32_t Index, int32_t Size)>;

// The workers are started by the constructor and sleep between runs. All public operations belong
// to the thread that created the pool (the UI thread in the program, the main thread in a tool);
// an asynchronous run reports its end through that thread's Qt event loop. ProcessItem runs on the
// workers and must never wait for the creating thread: Run, RunAndWait, Process, Stop and the
// destructor block until every worker is idle.
class TMultiThread : public QObject {
    Q_OBJECT
public:
    // aNumberOfThreads <= 0: one worker per logical processor (at least one).
    explicit TMultiThread(int32_t aNumberOfThreads = 0, QObject* parent = nullptr);
    // Stops the current run (the chunks being worked on run to their end), then ends and joins the
    // workers. A run's end notification still queued is dropped with the object, never delivered.
    ~TMultiThread() override;

    // Asynchronous run: returns once the workers are woken. Does nothing, not even Stop, when
    // ProcessItem is empty. A run in progress is stopped first (its own OnTerminate(false) still
    // arrives, after this run has started). OnTerminate(Success) follows later on the creating
    // thread, Success = not Aborted when the last worker ran out of chunks and no item threw.
    // ChunkSize 0 cuts the range into NumberOfThreads chunks; ChunkSize > 0 into chunks of
    // ChunkSize items (the last one shorter). Negative Count counts as 0, negative ChunkSize as 0.
    void Run(int32_t Count, int32_t ChunkSize = 0);
    // Synchronous run: blocks until every worker is idle, then calls OnTerminate on this thread:
    // true even when the run was aborted, false only when a work item threw.
    void RunAndWait(int32_t Count, int32_t ChunkSize = 0);
    // ProcessItem := aProcessItem, then RunAndWait.
    void Process(TOnProcessItem aProcessItem, int32_t Count, int32_t ChunkSize = 0);
    // Sets Aborted and blocks until every worker has finished the chunk it holds. Returns at once
    // on an idle pool.
    void Stop();

    // The chunk tables of a run: chunk i covers Indices[i] .. Indices[i] + Sizes[i] - 1; the chunks
    // are contiguous and cover 0 .. Count - 1 once. Pure; exposed for tests.
    static void MakeChunks(int32_t Count, int32_t ChunkSize, int32_t NumberOfThreads, TIntVector& Indices,
                           TIntVector& Sizes);

    const int32_t NumberOfThreads;
    // True: no further chunk is handed out. Setting it directly ends a run without blocking
    // (workers finish the chunk they hold). Cleared by Run.
    std::atomic<bool> Aborted{false};
    // Copied by Run after the previous run has stopped, so it may be reassigned between runs.
    TOnProcessItem ProcessItem;
    // Called on the creating thread.
    TOnTerminate OnTerminate;

private:
    struct TItemThread {
        TEvent Ready;   // set by the worker whenever it is idle
        TEvent Event;   // set by the pool to start a pass over the queue or to let the worker end
        std::thread Thread;
    };

    bool StartRun(int32_t Count, int32_t ChunkSize, bool waitMode);
    void WaitAll();
    void Shutdown();
    void Execute(TItemThread& worker);
    void TakeChunks();
    bool GetChunk(int32_t& Index, int32_t& Size);
    void CountOutLocked();

    std::mutex fLock;   // the chunk queue; held only while a worker takes a chunk or is counted out
    int32_t fCurrentChunk = 0;
    int32_t fRunningThreads = 0;
    TIntVector fIndices;
    TIntVector fSizes;
    TOnProcessItem fRunItem;
    std::atomic<bool> fRunAndWaitMode{false};
    std::atomic<bool> fItemFailed{false};   // a work item of this run threw
    std::atomic<bool> fTerminating{false};
    std::vector<std::unique_ptr<TItemThread>> fThreads;
};
