#include "gui/pages/RouterPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <utility>

#include "core/spider/SpiderRules.h"
#include "core/text/StringTable.h"
#include "gui/desktop/Desktop.h"
#include "gui/settings/SettingsStore.h"
#include "gui/text/Bytes.h"

namespace {

const QString kSection = QStringLiteral("Router");
const QString kRemember = QStringLiteral("RememberPassword");
const QString kHttps = QStringLiteral("UseHttps");

struct Labelled {
    const char* label;
    QWidget* control;
    int width;  // in dialog units; the columns keep these proportions
};

// A titled frame holding two labelled controls side by side, each label above its control.
QGroupBox* PairBox(const char* title, const Labelled& left, const Labelled& right,
                   QWidget* parent) {
    auto* box = new QGroupBox(QString::fromLatin1(title), parent);
    auto* grid = new QGridLayout(box);
    int column = 0;
    for (const Labelled& item : {left, right}) {
        grid->addWidget(BuddyLabel(QString::fromLatin1(item.label), item.control, box), 0, column);
        grid->addWidget(item.control, 1, column);
        SizeInDialogUnits(item.control, item.width);
        grid->setColumnStretch(column++, item.width);
    }
    return box;
}

}  // namespace

CRouterPage::CRouterPage(CSettingsStore& settings, CDesktop& desktop)
    : CPropertyPage(QStringLiteral("Router")),
      m_settings(settings),
      m_desktop(desktop),
      m_ctrlAddress(desktop) {
    m_strLogin = settings.GetProfileString(kSection, QStringLiteral("Login"));
    m_nAddress = settings.GetProfileInt(kSection, QStringLiteral("Address"), m_nAddress);
    m_nPort = static_cast<std::int32_t>(settings.GetProfileInt(
        kSection, QStringLiteral("Port"), static_cast<std::uint32_t>(m_nPort)));
    m_bHttps = settings.GetProfileInt(kSection, kHttps, 0) != 0;

    m_editLogin.setObjectName(QStringLiteral("loginEdit"));
    m_editPassword.setObjectName(QStringLiteral("passwordEdit"));
    m_editPassword.setEchoMode(QLineEdit::Password);
    m_ctrlAddress.setObjectName(QStringLiteral("routerAddress"));
    m_editPort.setObjectName(QStringLiteral("portEdit"));
    m_editPort.setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));

    QGroupBox* authentication = PairBox("Authentication", {"&Login:", &m_editLogin, 80},
                                        {"&Password:", &m_editPassword, 80}, this);
    QGroupBox* addressing = PairBox("Addressing", {"&IP Address:", &m_ctrlAddress, 105},
                                    {"P&ort:", &m_editPort, 55}, this);

    auto* hint = new QLabel(
        QStringLiteral(
            "Provide the information about the router to test then click the Status tab."),
        this);
    hint->setWordWrap(true);

    m_chkRemember.setObjectName(QStringLiteral("rememberPassword"));
    m_chkRemember.setText(QStringLiteral("Remember password in the &keyring"));
    m_chkHttps.setObjectName(QStringLiteral("useHttps"));
    m_chkHttps.setText(QStringLiteral("Use &HTTPS"));
    m_chkHttps.setToolTip(
        QStringLiteral("Ask the router over HTTPS. Its certificate is trusted by its key, which "
                       "you confirm the first time and which must stay the same from then on."));
    m_staticKeyring.setObjectName(QStringLiteral("keyringReason"));
    m_staticKeyring.setWordWrap(true);
    m_staticKeyring.setVisible(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(authentication);
    layout->addWidget(addressing);
    layout->addWidget(&m_chkRemember);
    layout->addWidget(&m_staticKeyring);
    layout->addWidget(&m_chkHttps);
    layout->addWidget(hint);
    layout->addStretch();

    setTabOrder(&m_editLogin, &m_editPassword);
    setTabOrder(&m_editPassword, &m_ctrlAddress);
    setTabOrder(&m_ctrlAddress, &m_editPort);
    setTabOrder(&m_editPort, &m_chkRemember);
    setTabOrder(&m_chkRemember, &m_chkHttps);

    QString why;
    m_bKeyringUsable = CKeyring::IsAvailable(&why);
    if (!m_bKeyringUsable) {
        ShowKeyringFailure(why);
    } else if (settings.GetProfileInt(kSection, kRemember, 0) != 0) {
        m_chkRemember.setChecked(true);
        m_bReadingPassword = true;
        m_keyring.Read(SavedRouterKey(), [this](CKeyring::Result result, const QString& text) {
            OnPasswordRead(result, text);
        });
    }
    connect(&m_chkRemember, &QCheckBox::toggled, this, &CRouterPage::OnRememberToggled);
}

bool CRouterPage::DoDataExchange(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_editLogin.setText(m_strLogin);
        m_editPassword.setText(m_strPassword);
        if (m_nAddress == 0) {
            m_ctrlAddress.ClearAddress();
        } else {
            m_ctrlAddress.SetAddress(m_nAddress);
        }
        m_editPort.setText(QString::number(m_nPort));
        m_chkHttps.setChecked(m_bHttps);
        return true;
    }
    m_strLogin = m_editLogin.text();
    m_strPassword = m_editPassword.text();
    m_nAddress = m_ctrlAddress.GetAddress();
    m_bHttps = m_chkHttps.isChecked();
    bool bOk = false;
    const int port = m_editPort.text().trimmed().toInt(&bOk);
    if (!bOk) {
        m_desktop.ShowMessage(this, LoadText(IDS_ENTER_INTEGER), MessageIcon::Exclamation);
        m_editPort.setFocus();
        m_editPort.selectAll();
        return false;
    }
    m_nPort = port;
    return true;
}

bool CRouterPage::ValidateAndSave() {
    UpdateData(true);
    m_strLogin = QString::fromStdString(
        RouterLogin(CredentialBytes(m_strLogin), CredentialBytes(m_strPassword)));
    // A port beyond the TCP range is refused as port 0 is, as velmo-cli refuses it: its low 16
    // bits would name another port.
    const bool bTcpPort = m_nPort >= 1 && m_nPort <= 65535;
    if (const int refusal = CheckRouterTarget(m_nAddress, bTcpPort ? m_nPort : 0); refusal != 0) {
        Q_EMIT activationRequested();
        m_desktop.ShowMessage(this, LoadText(refusal), MessageIcon::Exclamation);
        if (refusal == IDS_INVALID_ADDRESS) {
            m_ctrlAddress.setFocus();
        } else {
            m_editPort.setFocus();
        }
        return false;
    }
    const QString previousKey = SavedRouterKey();
    m_settings.WriteProfileString(kSection, QStringLiteral("Login"), m_strLogin);
    m_settings.WriteProfileInt(kSection, QStringLiteral("Address"), m_nAddress);
    m_settings.WriteProfileInt(kSection, QStringLiteral("Port"),
                               static_cast<std::uint32_t>(m_nPort));
    m_settings.WriteProfileInt(kSection, kHttps, m_bHttps ? 1 : 0);
    if (RemembersPassword()) {
        const QString key = SavedRouterKey();
        // A password the keyring did not take must not look remembered.
        m_keyring.Write(key, m_strPassword, [this](CKeyring::Result result, const QString& why) {
            if (result == CKeyring::Result::Failed) {
                ShowKeyringFailure(why);
                m_chkRemember.setChecked(false);
                m_desktop.ShowMessage(this,
                                      QStringLiteral("The password could not be stored in the "
                                                     "keyring."),
                                      MessageIcon::Exclamation, why);
            }
        });
        // The keyring holds the password of the router in use only.
        if (key != previousKey) {
            m_keyring.Remove(previousKey, [this](CKeyring::Result result, const QString& why) {
                if (result == CKeyring::Result::Failed) {
                    ShowKeyringFailure(why);
                }
            });
        }
    }
    return true;
}

void CRouterPage::EnableControls(bool bEnable) {
    m_editLogin.setEnabled(bEnable);
    m_editPassword.setEnabled(bEnable);
    m_ctrlAddress.setEnabled(bEnable);
    m_editPort.setEnabled(bEnable);
    m_chkHttps.setEnabled(bEnable);
    // Ticked or cleared during a test, the keyring would no longer match what the test uses.
    m_chkRemember.setEnabled(bEnable && m_bKeyringUsable);
}

QString CRouterPage::SavedRouterKey() const {
    const std::uint32_t address =
        m_settings.GetProfileInt(kSection, QStringLiteral("Address"), 0x7F000001);
    const std::uint32_t port = m_settings.GetProfileInt(kSection, QStringLiteral("Port"), 8000);
    return CKeyring::RouterKey(address, static_cast<std::uint16_t>(port & 0xFFFF));
}

void CRouterPage::OnRememberToggled(bool bRemember) {
    // The password itself goes to the keyring when a test starts, with the router it is for.
    m_settings.WriteProfileInt(kSection, kRemember, bRemember ? 1 : 0);
    if (!bRemember) {
        m_keyring.Remove(SavedRouterKey(), [this](CKeyring::Result result, const QString& why) {
            if (result == CKeyring::Result::Failed) {
                ShowKeyringFailure(why);
            }
        });
    }
}

void CRouterPage::OnPasswordRead(CKeyring::Result result, const QString& text) {
    m_bReadingPassword = false;
    m_bPasswordLoaded = result == CKeyring::Result::Ok;
    if (result == CKeyring::Result::Failed) {
        ShowKeyringFailure(text);
    }
    // What the user typed meanwhile wins.
    if (m_bPasswordLoaded && m_editPassword.text().isEmpty()) {
        m_strPassword = text;
        m_editPassword.setText(text);
    }
    for (auto& then : std::exchange(m_whenLoaded, {})) {
        then(m_bPasswordLoaded);
    }
}

void CRouterPage::WhenPasswordLoaded(std::function<void(bool bLoaded)> then) {
    if (m_bReadingPassword) {
        m_whenLoaded.push_back(std::move(then));
    } else if (m_settings.GetProfileInt(kSection, kRemember, 0) == 0) {
        then(true);
    } else {
        then(m_bPasswordLoaded);
    }
}

void CRouterPage::ShowKeyringFailure(const QString& why) {
    m_chkRemember.setToolTip(why);
    m_chkRemember.setAccessibleDescription(why);
    m_staticKeyring.setText(why);
    m_staticKeyring.setVisible(true);
    if (!m_bKeyringUsable) {
        m_chkRemember.setEnabled(false);
    }
}

std::string CRouterPage::LoginBytes() const {
    return CredentialBytes(m_strLogin);
}

std::string CRouterPage::PasswordBytes() const {
    return CredentialBytes(m_strPassword);
}
