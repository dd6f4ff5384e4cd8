#include "gui/pages/GatewayCheck.h"

#include <QMetaObject>

#include <vector>

CGatewayCheck::CGatewayCheck(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("gatewayCheck"));
}

CGatewayCheck::~CGatewayCheck() {
    Abandon();
}

void CGatewayCheck::Abandon() {
    if (m_thread.joinable()) {
        m_bAbandon = true;
        m_thread.join();
    }
    ++m_nQuestion;
}

bool CGatewayCheck::Start(std::uint32_t router, std::uint32_t publicAddress,
                          std::uint32_t pageAddress) {
    Abandon();
    m_bAbandon = false;
    try {
        m_thread = std::thread([this, question = m_nQuestion, router, publicAddress, pageAddress] {
            const std::vector<GatewayAnswer> answers = AskGatewayInTurn(
                *m_pGateway, GatewayTargetOfRouter(router), CAbortSignal(&m_bAbandon));
            const QString diagnosis = QString::fromStdString(DiagnoseRouterWan(
                RouterWanOf(BestGatewayAnswer(answers), pageAddress), publicAddress));
            // Queued to this object: should the check be gone by then, the answer goes with it.
            QMetaObject::invokeMethod(
                this,
                [this, question, diagnosis] {
                    if (question == m_nQuestion) {
                        Q_EMIT answered(diagnosis);
                    }
                },
                Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        return false;  // no thread, no question
    }
    return true;
}
