#include "core/spider/SpiderRun.h"

#include <system_error>
#include <utility>

#include "core/spider/SpiderRules.h"

CSpiderRun::CSpiderRun(ISpiderSink& sink, CDetectScript& detector, const std::atomic<bool>* abandon)
    : m_sink(sink), m_detector(detector), m_pAbandon(abandon) {}

CSpiderRun::~CSpiderRun() {
    Shutdown();
}

void CSpiderRun::CStartNotingSink::Post(SpiderMessage message, std::string text) {
    m_next.Post(message, std::move(text));
}

void CSpiderRun::CStartNotingSink::Fetching(const std::string& path) {
    m_next.Fetching(path);
}

void CSpiderRun::CStartNotingSink::FetchFailed(const std::string& path, const std::string& why) {
    m_next.FetchFailed(path, why);
}

void CSpiderRun::CStartNotingSink::Answered(const std::string& path, long status) {
    long none = -1;
    m_nStartStatus.compare_exchange_strong(none, status);
    m_next.Answered(path, status);
}

void CSpiderRun::CStartNotingSink::NamesSkipped(std::size_t count) {
    m_next.NamesSkipped(count);
}

void CSpiderRun::CStartNotingSink::LinksGivenUp(std::size_t pages) {
    m_next.LinksGivenUp(pages);
}

void CSpiderRun::CStartNotingSink::LoggedIn(const std::string& formUrl) {
    {
        std::lock_guard lock(m_mutex);
        m_strLoginFailure.clear();
    }
    m_next.LoggedIn(formUrl);
}

void CSpiderRun::CStartNotingSink::LoginFailed(const std::string& why) {
    {
        std::lock_guard lock(m_mutex);
        m_strLoginFailure = why;
    }
    m_next.LoginFailed(why);
}

void CSpiderRun::CStartNotingSink::Clear() {
    m_nStartStatus.store(-1);
    std::lock_guard lock(m_mutex);
    m_strLoginFailure.clear();
}

std::string CSpiderRun::CStartNotingSink::LoginFailure() const {
    std::lock_guard lock(m_mutex);
    return m_strLoginFailure;
}

void CSpiderRun::Prepare(SpiderSettings settings) {
    m_settings = std::move(settings);
    m_reached = {};
    m_bCancel = false;
    m_bShutdown = false;
    m_sink.Clear();
}

bool CSpiderRun::Start() {
    if (m_thread.joinable()) {
        m_thread.join();  // the previous run has posted its last message already
    }
    try {
        m_thread = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CSpiderRun::Run() {
    Execute();
}

void CSpiderRun::Execute() {
    SpiderRunState state{.sink = m_sink,
                         .detector = m_detector,
                         .parsed = m_parsed,
                         .cancel = m_bCancel,
                         .shutdown = m_bShutdown,
                         .abandon = m_pAbandon,
                         .reached = &m_reached};
    SpiderThreadProc(m_settings, state);
}

void CSpiderRun::Shutdown() {
    if (m_thread.joinable()) {
        Abandon();
        m_thread.join();
        m_bShutdown = false;
    }
}

int CSpiderRun::Outcome(std::uint32_t externalAddress, std::size_t foundPages) const {
    return SpiderOutcome(IsCancelled(), externalAddress, foundPages);
}
