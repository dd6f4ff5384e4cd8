#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "core/gateway/Gateway.h"
#include "gui/pages/Worker.h"

// Asks the router itself, on a thread of its own, what its WAN side is, so that a run that found
// no status page can say why as soon as it ends: the question goes out when the run starts and
// is weighed when the run has ended. The question is bounded by the gateway's limits; a new
// question, Abandon or the check's end abandons the one in flight, and its thread ends within
// 100 ms.
class CGatewayCheck : public QObject {
    Q_OBJECT

public:
    explicit CGatewayCheck(QObject* parent = nullptr);
    ~CGatewayCheck() override;

    // Tests put in a gateway of their own; it must outlive the check.
    void SetGateway(IGateway& gateway) { m_pGateway = &gateway; }

    // Asks the gateway of `router` (host order). False when no question could be asked.
    bool Ask(std::uint32_t router);
    // The run has ended: the diagnosis weighs the gateway's answer, else `pageAddress` (a WAN
    // address a page showed, 0: none), against `publicAddress`, both host order; `answered` tells
    // it at once when the answer is in, else when it comes. False when no question is in hand:
    // then nothing is answered.
    bool Conclude(std::uint32_t publicAddress, std::uint32_t pageAddress);
    void Abandon();
    // The gateway's answer to the last question has come and is not yet weighed.
    bool HasAnswer() const { return m_answers.has_value(); }

Q_SIGNALS:
    // The question is answered: `diagnosis` is empty when the router's WAN side explains nothing;
    // `publicAddress` (0: none) the public WAN address the router told of its own, which polling
    // can follow. A shared, DS-Lite or private one is not for polling: it is not the line's.
    void answered(const QString& diagnosis, quint32 publicAddress);

private:
    void Answer();

    CGateway m_gateway;
    IGateway* m_pGateway = &m_gateway;
    std::optional<std::vector<GatewayAnswer>> m_answers;
    bool m_bConcluding = false;  // the run has ended and waits for the answer
    std::uint32_t m_nPublicAddress = 0;
    std::uint32_t m_nPageAddress = 0;
    CWorker m_worker;  // asks one of the gateways above, so it goes first
};
