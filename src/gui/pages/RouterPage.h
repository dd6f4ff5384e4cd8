#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <cstdint>
#include <functional>
#include <vector>

#include "gui/controls/IPAddressCtrl.h"
#include "gui/pages/PropertyPage.h"
#include "gui/pages/RouterTarget.h"
#include "gui/settings/Keyring.h"

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
    bool Https() const override { return m_bHttps; }

    // Whether validation stores the password in the desktop keyring.
    bool RemembersPassword() const { return m_bKeyringUsable && m_chkRemember.isChecked(); }
    // Calls `then` once the password of the last session is in place, with false when it cannot
    // be: at once when it is not remembered (it is the empty one), after the keyring's answer when
    // it is.
    void WhenPasswordLoaded(std::function<void(bool bLoaded)> then);

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    CSettingsStore& m_settings;
    CDesktop& m_desktop;
    QLineEdit m_editLogin;
    QLineEdit m_editPassword;
    CIPAddressCtrl m_ctrlAddress;
    QLineEdit m_editPort;
    QCheckBox m_chkRemember;
    QCheckBox m_chkHttps;
    QLabel m_staticKeyring;  // why the keyring cannot be used, for those without a mouse too
    QString m_strLogin;
    QString m_strPassword;
    std::uint32_t m_nAddress = 0x7F000001;  // 127.0.0.1
    std::int32_t m_nPort = 8000;
    bool m_bHttps = false;

    // The keyring side of "Remember password": the entry is named after the router as saved.
    QString SavedRouterKey() const;
    void OnRememberToggled(bool bRemember);
    void OnPasswordRead(CKeyring::Result result, const QString& text);
    void ShowKeyringFailure(const QString& why);
    CKeyring m_keyring;
    bool m_bKeyringUsable = false;
    bool m_bReadingPassword = false;
    bool m_bPasswordLoaded = false;
    std::vector<std::function<void(bool)>> m_whenLoaded;
};
