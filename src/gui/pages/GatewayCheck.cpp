#include "gui/pages/GatewayCheck.h"

#include <atomic>
#include <vector>

CGatewayCheck::CGatewayCheck(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("gatewayCheck"));
}

CGatewayCheck::~CGatewayCheck() = default;

bool CGatewayCheck::Start(std::uint32_t router, std::uint32_t publicAddress,
                          std::uint32_t pageAddress) {
    return m_worker.Run(
        [gateway = m_pGateway, router, publicAddress,
         pageAddress](const std::atomic<bool>& abandoned) {
            const std::vector<GatewayAnswer> answers =
                AskGatewayInTurn(*gateway, GatewayTargetOfRouter(router), CAbortSignal(&abandoned));
            return QString::fromStdString(DiagnoseRouterWan(
                RouterWanOf(BestGatewayAnswer(answers), pageAddress), publicAddress));
        },
        [this](const QString& diagnosis) { Q_EMIT answered(diagnosis); });
}
