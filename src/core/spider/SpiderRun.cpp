#include "core/spider/SpiderRun.h"

#include <system_error>

#include "core/net/HttpFetch.h"
#include "core/spider/SpiderRules.h"

CSpiderRun::CSpiderRun(ISpiderSink& sink, CDetectScript& detector, SpiderSettings settings,
                       const std::atomic<bool>* abandon)
    : m_sink(sink), m_detector(detector), m_settings(std::move(settings)), m_pAbandon(abandon) {}

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

void CSpiderRun::Prepare(std::string_view login, std::string_view password, std::uint32_t address,
                         std::int32_t port) {
    m_params.strPath.assign(1, '/');  // gcc 12 warns falsely (-Wrestrict) on = "/"
    m_params.nRouterAddress = address;
    m_params.nRouterPort = static_cast<std::uint16_t>(port & 0xFFFF);
    m_params.strHeaders = BuildAuthorizationHeader(RouterLogin(login, password), password);
    m_params.strExternalAddress.clear();
    m_params.pInternet = nullptr;
    m_bDetect = true;
    m_bDeep = false;
    m_bCancel = false;
    m_bShutdown = false;
    m_sink.Clear();
}

void CSpiderRun::SetExternalAddress(std::string address) {
    m_params.strExternalAddress = std::move(address);
    m_bDetect = false;
}

SpiderRunContext CSpiderRun::Context() {
    return {m_sink,
            m_bDetect ? &m_detector : nullptr,
            m_parsed,
            m_bCancel,
            m_bShutdown,
            m_settings.timeouts,
            m_settings.lookup,
            m_settings.lookupLimit,
            m_settings.lookupBudget,
            m_settings.pageText,
            m_bDeep,
            m_settings.onRequest,
            m_pAbandon};
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
    SpiderRunContext context = Context();
    SpiderThreadProc(m_params, context);
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
