#include "gui/pages/GatewayCheck.h"

#include <atomic>
#include <utility>

#include "core/gateway/WanAddress.h"

CGatewayCheck::CGatewayCheck(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("gatewayCheck"));
}

CGatewayCheck::~CGatewayCheck() = default;

void CGatewayCheck::Abandon() {
    m_worker.Abandon();
    m_answers.reset();
    m_bConcluding = false;
}

bool CGatewayCheck::Ask(std::uint32_t router) {
    Abandon();
    return m_worker.Run(
        [gateway = m_pGateway, router](const std::atomic<bool>& abandoned) {
            return AskGatewayInTurn(*gateway, GatewayTargetOfRouter(router),
                                    CAbortSignal(&abandoned));
        },
        [this](std::vector<GatewayAnswer> answers) {
            m_answers = std::move(answers);
            if (m_bConcluding) {
                Answer();
            }
        });
}

bool CGatewayCheck::Conclude(std::uint32_t publicAddress, std::uint32_t pageAddress) {
    if (!m_answers && !m_worker.IsBusy()) {
        return false;
    }
    m_nPublicAddress = publicAddress;
    m_nPageAddress = pageAddress;
    m_bConcluding = true;
    if (m_answers) {
        Answer();
    }
    return true;
}

void CGatewayCheck::Answer() {
    m_bConcluding = false;
    const std::vector<GatewayAnswer> answers = *std::exchange(m_answers, std::nullopt);
    const GatewayAnswer& best = BestGatewayAnswer(answers);
    const bool bPublic = best.kind == GatewayAnswer::Kind::Address &&
                         ClassifyWanAddress(best.address) == WanKind::Public;
    Q_EMIT answered(QString::fromStdString(
                        DiagnoseRouterWan(RouterWanOf(best, m_nPageAddress), m_nPublicAddress)),
                    bPublic ? best.address : 0);
}
