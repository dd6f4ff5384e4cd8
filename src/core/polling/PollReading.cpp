#include "core/polling/PollReading.h"

#include <vector>

#include "core/net/InetAddr.h"
#include "core/spider/SpiderRules.h"

PollReading PageReading(bool bFound, const std::string& result, const ProbeFailure& failure) {
    PollReading reading;
    if (bFound) {
        reading.result = result;
        return reading;
    }
    reading.status = failure.status;
    if (failure.error == FetchError::Untrusted || failure.error == FetchError::KeyChanged) {
        reading.failure = PollFailure::NoAnswer;
        reading.transfer =
            failure.error == FetchError::Untrusted ? "key not trusted" : "KEY CHANGED";
        reading.reason = reading.transfer + ", nothing sent";
        return reading;
    }
    const std::string status = "HTTP " + std::to_string(failure.status);
    // A refused login first, and any error status before the page's text: such a page may hold
    // anything, and what it lacks says nothing of the page asked for.
    if (IsLoginRefused(failure.status)) {
        reading.failure = PollFailure::LoginRefused;
        reading.reason = "login refused (" + status + ")";
    } else if (failure.status >= 400) {
        reading.failure = PollFailure::HttpStatus;
        reading.reason = status;
    } else if (failure.status == 0 || failure.error != FetchError::None) {
        // "timed out (nothing received for 10000 ms)": the library's detail is for --verbose.
        reading.failure = PollFailure::NoAnswer;
        reading.transfer = failure.why.substr(0, failure.why.find(" ("));
        reading.reason =
            (failure.status == 0 ? "no answer" : "incomplete page") +
            (reading.transfer == "no answer" ? std::string() : " (" + reading.transfer + ")");
    } else {
        reading.failure = PollFailure::NoAddress;
        reading.reason = failure.why;
    }
    return reading;
}

PollReading ReadPolledPage(const std::string& url, std::string_view login,
                           std::string_view password, std::string_view exclusions,
                           const FetchOptions& options) {
    std::string result;
    ProbeFailure failure;
    const bool bFound =
        ProbeAddress(url, login, password, false, exclusions, result, options, &failure);
    return PageReading(bFound, result, failure);
}

PollReading ReadPolledPage(CRouterSession& session, const std::string& url,
                           std::string_view exclusions, const FetchOptions& options,
                           ProbeFailure* probeFailure) {
    session.StartTick();
    std::string result;
    ProbeFailure failure;
    bool bFound = false;
    if (InternetHandle internet = OpenInternetHandle(options)) {
        bFound = ProbeAnswer(*internet, session.Get(*internet, url).request, false, exclusions,
                             result, &failure);
    } else {
        failure = {"failed", 0, FetchError::Failed};
    }
    session.EndTick(IsLoginRefused(failure.status));
    if (probeFailure != nullptr) {
        *probeFailure = failure;
    }
    PollReading reading = PageReading(bFound, result, failure);
    if (!bFound && !session.LoginFailure().empty()) {
        reading.failure = PollFailure::LoginRefused;
        reading.reason = "login refused (" + session.LoginFailure() + ")";
    }
    return reading;
}

PollReading ReadRouterAnswer(IGateway& gateway, const GatewayTarget& target,
                             const CAbortSignal& abort) {
    const std::vector<GatewayAnswer> answers = AskGatewayInTurn(gateway, target, abort);
    const GatewayAnswer& best = BestGatewayAnswer(answers);
    PollReading reading;
    if (best.Answered()) {
        reading.gateway = best.source;
    }
    switch (best.kind) {
        case GatewayAnswer::Kind::Address:
            reading.result = DottedAddress(best.address);
            return reading;
        case GatewayAnswer::Kind::None:
            reading.failure = PollFailure::NoneOfItsOwn;
            reading.reason = best.source + ": the router has no internet address of its own";
            return reading;
        case GatewayAnswer::Kind::NoAnswer:
            break;
    }
    reading.failure = PollFailure::NoAnswer;
    reading.reason = GatewayReasons(answers);
    return reading;
}
