#pragma once

#include <chrono>
#include <thread>

// Polls `done` until it holds or `limit` has passed, and answers whether it held. The limit is a
// safety net only: a fault then fails the test with its message instead of hanging it.
template <class Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
