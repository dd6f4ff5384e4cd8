#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "core/spider/SpiderWorker.h"

class CDetectScript;

// What a run needs from its surroundings besides the router target. The program keeps the
// defaults; tests shorten the time-outs and keep name lookups off the network.
struct SpiderSettings {
    HttpTimeouts timeouts;
    HostLookup lookup;                            // names in links; empty: the system resolver
    std::chrono::milliseconds lookupLimit{5000};  // one name lookup gives up after this long
    // All name lookups of a run together; names met after it is spent are skipped unresolved.
    std::chrono::milliseconds lookupBudget{15000};
    PageTextHook pageText{};  // sees every page the crawl reads
    RequestHook onRequest{};  // sees every request, detection's included
};

// One spider run: its params, its parsed-page list, its cancel flag and its worker thread. Each
// front end holds its own; nothing of a run is shared with another.
class CSpiderRun {
public:
    // `detector` learns the external address unless one is given with SetExternalAddress; its
    // rotation carries over from run to run. A set `abandon` (a flag that may be set from a
    // signal handler) abandons the run as Abandon does: the run watches it wherever it watches its
    // own flags, and never clears it.
    CSpiderRun(ISpiderSink& sink, CDetectScript& detector, SpiderSettings settings = {},
               const std::atomic<bool>* abandon = nullptr);
    ~CSpiderRun();  // abandons a run in progress and waits for its thread
    CSpiderRun(const CSpiderRun&) = delete;
    CSpiderRun& operator=(const CSpiderRun&) = delete;

    // Sets the params from the router target (the "%20" login rule applied, path "/", the low 16
    // bits of the port) and clears the cancel and abandon flags, any given external address and
    // deep discovery: nothing of an earlier run, ended or never started, carries over. Not while a
    // run is in progress.
    void Prepare(std::string_view login, std::string_view password, std::uint32_t address,
                 std::int32_t port);
    // The crawl looks for this address instead of asking the detector.
    void SetExternalAddress(std::string address);
    // The crawl also follows what deep discovery finds in pages and scripts (CrawlContext::bDeep).
    void SetDeep(bool bDeep) { m_bDeep = bDeep; }
    bool IsDeep() const { return m_bDeep; }

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
    const SpiderParams& Params() const { return m_params; }
    // Read only while no run is in progress.
    const CParsedPageList& ParsedPages() const { return m_parsed; }
    // The outcome message of the run that has ended, by its cancel flag and what it found.
    int Outcome(std::uint32_t externalAddress, std::size_t foundPages) const;
    // The HTTP status of the run's first answer from the router; -1 before there is one. A 401
    // start page is still read as a page, so this is what tells a refused login.
    long StartStatus() const { return m_sink.StartStatus(); }

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
        void Clear() { m_nStartStatus.store(-1); }
        long StartStatus() const { return m_nStartStatus.load(); }

    private:
        ISpiderSink& m_next;
        std::atomic<long> m_nStartStatus{-1};
    };

    SpiderRunContext Context();
    // The worker body on the calling thread.
    void Execute();

    CStartNotingSink m_sink;
    CDetectScript& m_detector;
    SpiderSettings m_settings;
    const std::atomic<bool>* m_pAbandon;
    SpiderParams m_params;
    bool m_bDetect = true;
    bool m_bDeep = false;
    CParsedPageList m_parsed;
    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bShutdown{false};
    std::thread m_thread;
};
