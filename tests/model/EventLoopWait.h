// Waiting in tests for what the worker pool delivers through the Qt event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <thread>

// Polls the event loop until pred holds; false after timeoutMs instead of hanging.
template <typename TPred>
bool WaitFor(TPred pred, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
