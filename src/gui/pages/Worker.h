#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

// Runs one job at a time off the window's thread and hands its result back on the window's
// thread, through this object: a result reaches its `done` only when its job was neither
// abandoned nor replaced, and never once this object is gone, so a closed window drops late
// results instead of touching freed state. A job watches the flag it is given and ends soon once
// the flag is set (the transfers it makes end at once); abandoning, replacing and destroying wait
// for it, so what the job reads must outlive this object.
class CWorker : public QObject {
public:
    explicit CWorker(QObject* parent = nullptr) : QObject(parent) {}
    ~CWorker() override;
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    // Abandons the job in flight, then starts `job(abandoned)` on a thread of its own; its result
    // goes to `done(result)` here. False when no thread could be started: then neither runs.
    template <class Job, class Done>
    bool Run(Job job, Done done);

    // Sets the flag of the job in flight and waits for its thread; its result is dropped.
    void Abandon();
    // A job runs, or its result is yet to be handed back.
    bool IsBusy() const { return m_bBusy; }

private:
    std::thread m_thread;
    std::atomic<bool> m_bAbandoned{false};
    unsigned m_nJob = 0;  // results of an older job are dropped
    bool m_bBusy = false;
};

template <class Job, class Done>
bool CWorker::Run(Job job, Done done) {
    Abandon();
    m_bAbandoned.store(false);
    const unsigned id = m_nJob;
    try {
        m_thread = std::thread([this, id, job = std::move(job), done = std::move(done)]() mutable {
            auto result = job(std::as_const(m_bAbandoned));
            // If this object is gone before the event is handled, the event goes with it.
            QMetaObject::invokeMethod(
                this,
                [this, id, done = std::move(done), result = std::move(result)]() mutable {
                    if (id != m_nJob) {
                        return;
                    }
                    m_thread.join();  // it has nothing left to do
                    m_bBusy = false;
                    done(std::move(result));
                },
                Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_bBusy = true;
    return true;
}
