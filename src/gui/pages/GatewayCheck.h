#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

#include "core/gateway/Gateway.h"
#include "gui/pages/Worker.h"

// Asks the router itself, on a thread of its own, why a run found no status page. The question is
// bounded by the gateway's limits; a new question or the check's end abandons the one in flight,
// and its thread ends within 100 ms.
class CGatewayCheck : public QObject {
    Q_OBJECT

public:
    explicit CGatewayCheck(QObject* parent = nullptr);
    ~CGatewayCheck() override;

    // Tests put in a gateway of their own; it must outlive the check.
    void SetGateway(IGateway& gateway) { m_pGateway = &gateway; }

    // Asks the gateway of `router`; the diagnosis weighs its answer, else `pageAddress` (a WAN
    // address a page showed, 0: none), against `publicAddress`. All three are host order. False
    // when no question could be asked: then nothing is answered.
    bool Start(std::uint32_t router, std::uint32_t publicAddress, std::uint32_t pageAddress);
    void Abandon() { m_worker.Abandon(); }

Q_SIGNALS:
    // The question is answered: `diagnosis` is empty when the router's WAN side explains nothing.
    void answered(const QString& diagnosis);

private:
    CGateway m_gateway;
    IGateway* m_pGateway = &m_gateway;
    CWorker m_worker;  // asks one of the gateways above, so it goes first
};
