// A manual-reset event: once set it stays set, releasing every waiter, until it is reset.
#pragma once

#include <condition_variable>
#include <mutex>

class TEvent {
public:
    TEvent() = default;
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    // Any thread.
    void Set()
    {
        {
            std::lock_guard lock(fMutex);
            fSignalled = true;
        }
        fCondition.notify_all();
    }

    void Reset()
    {
        std::lock_guard lock(fMutex);
        fSignalled = false;
    }

    // Blocks without limit until the event is set; returns at once if it already is.
    void Wait()
    {
        std::unique_lock lock(fMutex);
        fCondition.wait(lock, [this] { return fSignalled; });
    }

private:
    std::mutex fMutex;
    std::condition_variable fCondition;
    bool fSignalled = false;
};
