#pragma once

#include <QLineEdit>

#include <cstdint>

#include "gui/controls/IPAddressCtrl.h"
#include "gui/pages/PropertyPage.h"

// The router target: login, password (memory only), LAN address and web-server port. Validated
// and saved before any test starts.
class CRouterPage : public CPropertyPage {
    Q_OBJECT

public:
    explicit CRouterPage(CTestSheet& sheet);

    // Pulls the controls, applies the "%20" login rule, checks address then port, saves.
    bool ValidateAndSave();
    void EnableControls(bool bEnable);

    const QString& Login() const { return m_strLogin; }
    const QString& Password() const { return m_strPassword; }
    std::uint32_t Address() const { return m_nAddress; }
    std::int32_t Port() const { return m_nPort; }

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    QLineEdit m_editLogin;
    QLineEdit m_editPassword;
    CIPAddressCtrl m_ctrlAddress;
    QLineEdit m_editPort;
    QString m_strLogin;
    QString m_strPassword;
    std::uint32_t m_nAddress = 0x7F000001;  // 127.0.0.1
    std::int32_t m_nPort = 8000;
};
