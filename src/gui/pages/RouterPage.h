#pragma once

#include <QLineEdit>

#include <cstdint>

#include "gui/controls/IPAddressCtrl.h"
#include "gui/pages/PropertyPage.h"
#include "gui/pages/RouterTarget.h"

class CDesktop;
class CSettingsStore;

// The router target: login, password (memory only), LAN address and web-server port. Validated
// and saved before any test starts.
class CRouterPage : public CPropertyPage, public IRouterTarget {
    Q_OBJECT

public:
    // Login, address and port come from `settings` now and go back there at each validation.
    CRouterPage(CSettingsStore& settings, CDesktop& desktop);

    // Pulls the controls, applies the "%20" login rule, checks address then port, saves.
    bool ValidateAndSave() override;
    void EnableControls(bool bEnable) override;

    const QString& Login() const { return m_strLogin; }
    const QString& Password() const { return m_strPassword; }
    std::string LoginBytes() const override;
    std::string PasswordBytes() const override;
    std::uint32_t Address() const override { return m_nAddress; }
    std::int32_t Port() const override { return m_nPort; }

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    CSettingsStore& m_settings;
    CDesktop& m_desktop;
    QLineEdit m_editLogin;
    QLineEdit m_editPassword;
    CIPAddressCtrl m_ctrlAddress;
    QLineEdit m_editPort;
    QString m_strLogin;
    QString m_strPassword;
    std::uint32_t m_nAddress = 0x7F000001;  // 127.0.0.1
    std::int32_t m_nPort = 8000;
};
