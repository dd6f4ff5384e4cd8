#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/spider/ParsedPageList.h"
#include "core/spider/SpiderSettings.h"
#include "core/spider/SpiderSink.h"
#include "core/spider/SpiderWorker.h"

class CDetectScript;

// One spider run: its settings, its parsed-page list, its cancel flag and its worker thread. Each
// front end holds its own; nothing of a run is shared with another.
class CSpiderRun {
public:
    // `detector` learns the external address unless the settings give one; its rotation carries
    // over from run to run. A set `abandon` (a flag that may be set from a signal handler) abandons
    // the run as Abandon does: the run watches it wherever it watches its own flags, and never
    // clears it.
    CSpiderRun(ISpiderSink& sink, CDetectScript& detector,
               const std::atomic<bool>* abandon = nullptr);
    ~CSpiderRun();  // abandons a run in progress and waits for its thread
    CSpiderRun(const CSpiderRun&) = delete;
    CSpiderRun& operator=(const CSpiderRun&) = delete;

    // Takes the settings of the next run, which replace the last run's whole, and clears the
    // cancel and abandon flags and the start status: nothing of an earlier run, ended or never
    // started, carries over. Not while a run is in progress.
    void Prepare(SpiderSettings settings);
    // What the last Prepare gave; read in place by the run.
    const SpiderSettings& Settings() const { return m_settings; }

    // Runs on a new worker thread; false when the thread cannot be created.
    bool Start();
    // Runs on the calling thread and returns when the run has posted WM_SPIDER_DONE.
    void Run();

    // Both may be called from any thread and from a signal handler. Cancel ends the crawl but lets
    // detection finish, and the page in flight when it does within timeouts.cancelGrace, as the
    // Cancel button does; Abandon ends detection and the transfer in flight at once.
    void Cancel() { m_bCancel.store(true); }
    void Abandon() {
        m_bShutdown.store(true);
        m_bCancel.store(true);
    }
    // Abandons the run in progress and waits for its thread.
    void Shutdown();

    bool IsCancelled() const {
        return m_bCancel.load() || (m_pAbandon != nullptr && m_pAbandon->load());
    }
    // Read only while no run is in progress.
    const CParsedPageList& ParsedPages() const { return m_parsed; }
    // The outcome message of the run that has ended, by its cancel flag and what it found.
    int Outcome(std::uint32_t externalAddress, std::size_t foundPages) const;
    // The HTTP status of the run's first answer from the router; -1 before there is one. A 401
    // start page is still read as a page, so this is what tells a refused login.
    long StartStatus() const { return m_sink.StartStatus(); }
    // Why the last run could not pass a login the router put in place of a page (see
    // CRouterSession::LoginFailure), as it stood when the run ended; empty when there was none.
    std::string LoginFailure() const { return m_sink.LoginFailure(); }
    // How the last run reached the router: its scheme and port, a key it refused or trusted new.
    // Read only while no run is in progress.
    const RouterReached& Reached() const { return m_reached; }

    static_assert(std::atomic<bool>::is_always_lock_free, "Cancel must be async-signal-safe");

private:
    // Passes the worker's messages on and keeps the status of the first answer.
    class CStartNotingSink : public ISpiderSink {
    public:
        explicit CStartNotingSink(ISpiderSink& next) : m_next(next) {}
        void Post(SpiderMessage message, std::string text) override;
        void Fetching(const std::string& path) override;
        void FetchFailed(const std::string& path, const std::string& why) override;
        void Answered(const std::string& path, long status) override;
        void NamesSkipped(std::size_t count) override;
        void LinksGivenUp(std::size_t pages) override;
        void LoggedIn(const std::string& formUrl) override;
        void LoginFailed(const std::string& why) override;
        void Clear();
        long StartStatus() const { return m_nStartStatus.load(); }
        std::string LoginFailure() const;

    private:
        ISpiderSink& m_next;
        std::atomic<long> m_nStartStatus{-1};
        mutable std::mutex m_mutex;
        std::string m_strLoginFailure;
    };

    // The worker body on the calling thread.
    void Execute();

    CStartNotingSink m_sink;
    CDetectScript& m_detector;
    const std::atomic<bool>* m_pAbandon;
    SpiderSettings m_settings;
    CParsedPageList m_parsed;
    RouterReached m_reached;
    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bShutdown{false};
    std::thread m_thread;
};
