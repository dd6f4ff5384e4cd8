#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "core/gateway/Gateway.h"

// A gateway that answers as the test says (nothing, by default) and keeps every question. Held,
// it answers only once the question is abandoned.
class CFakeGateway : public IGateway {
public:
    struct Question {
        GatewayMethod method;
        GatewayTarget target;
    };

    GatewayAnswer Ask(GatewayMethod method, const GatewayTarget& target,
                      const CAbortSignal& abort) override {
        {
            const std::lock_guard lock(m_mutex);
            m_questions.push_back({method, target});
        }
        while (bHold && !abort.IsSet()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const std::lock_guard lock(m_mutex);
        if (abort.IsSet()) {
            ++m_nAbandoned;
            return GatewayAnswer::Failure({}, GatewayError::Cancelled, "cancelled");
        }
        return method == GatewayMethod::UpnpIgd ? m_upnp : m_natpmp;
    }

    void Answer(GatewayMethod method, GatewayAnswer::Kind kind, std::uint32_t address = 0) {
        const std::lock_guard lock(m_mutex);
        GatewayAnswer& answer = method == GatewayMethod::UpnpIgd ? m_upnp : m_natpmp;
        answer.kind = kind;
        answer.address = address;
        answer.source = method == GatewayMethod::UpnpIgd
                            ? "UPnP IGD http://192.168.1.1:5000/rootDesc.xml"
                            : "NAT-PMP 192.168.1.1";
    }
    std::vector<Question> Questions() const {
        const std::lock_guard lock(m_mutex);
        return m_questions;
    }
    int Abandoned() const {
        const std::lock_guard lock(m_mutex);
        return m_nAbandoned;
    }

    std::atomic<bool> bHold{false};

private:
    mutable std::mutex m_mutex;
    GatewayAnswer m_upnp = GatewayAnswer::Failure("UPnP IGD search", GatewayError::NotFound,
                                                  "the router did not answer the search");
    GatewayAnswer m_natpmp =
        GatewayAnswer::Failure("NAT-PMP 192.168.1.1", GatewayError::TimedOut, "timed out");
    std::vector<Question> m_questions;
    int m_nAbandoned = 0;
};
