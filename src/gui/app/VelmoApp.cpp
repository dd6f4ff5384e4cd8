#include "gui/app/VelmoApp.h"

#include <QSettings>

#include "core/text/StringTable.h"
#include "gui/app/TestSheet.h"
#include "gui/desktop/Desktop.h"

namespace {

CVelmoApp* g_pApp = nullptr;

QString Key(const QString& section, const QString& entry) {
    return section + '/' + entry;
}

}  // namespace

CVelmoApp* TheApp() {
    return g_pApp;
}

CVelmoApp::CVelmoApp() : m_strAppName(LoadText(IDS_APP_TITLE)) {
    g_pApp = this;
}

CVelmoApp::~CVelmoApp() {
    g_pApp = nullptr;
}

bool CVelmoApp::InitInstance() {
    SetRegistryKey(QStringLiteral("Ravik"));
    CTestSheet sheet;
    sheet.DoModal();
    return false;
}

void CVelmoApp::SetRegistryKey(const QString& company) {
    m_strRegistryKey = company;
    m_strProfileName = m_strAppName;
}

QString CVelmoApp::GetProfileString(const QString& section, const QString& entry,
                                    const QString& defaultValue) const {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, m_strRegistryKey,
                             m_strProfileName);
    return settings.value(Key(section, entry), defaultValue).toString();
}

std::uint32_t CVelmoApp::GetProfileInt(const QString& section, const QString& entry,
                                       std::uint32_t defaultValue) const {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, m_strRegistryKey,
                             m_strProfileName);
    bool bOk = false;
    const qlonglong value = settings.value(Key(section, entry)).toString().toLongLong(&bOk);
    return bOk ? static_cast<std::uint32_t>(value) : defaultValue;
}

bool CVelmoApp::WriteProfileString(const QString& section, const QString& entry,
                                   const QString& value) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, m_strRegistryKey,
                       m_strProfileName);
    settings.setValue(Key(section, entry), value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool CVelmoApp::WriteProfileInt(const QString& section, const QString& entry, std::uint32_t value) {
    return WriteProfileString(section, entry, QString::number(value));
}
