#pragma once

#include <atomic>

// Up to two flags (a run's cancel flag, a shut-down flag) whose setting abandons the transfer in
// flight. The flags are owned elsewhere and must outlive every transfer that watches them.
class CAbortSignal {
public:
    CAbortSignal() = default;
    explicit CAbortSignal(const std::atomic<bool>* first, const std::atomic<bool>* second = nullptr)
        : m_pFirst(first), m_pSecond(second) {}
    // Implicit, so that one flag stands wherever a signal is watched.
    CAbortSignal(const std::atomic<bool>& flag) : m_pFirst(&flag) {}

    bool IsSet() const {
        return (m_pFirst != nullptr && m_pFirst->load(std::memory_order_relaxed)) ||
               (m_pSecond != nullptr && m_pSecond->load(std::memory_order_relaxed));
    }

private:
    const std::atomic<bool>* m_pFirst = nullptr;
    const std::atomic<bool>* m_pSecond = nullptr;
};
