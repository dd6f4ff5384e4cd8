#include "gui/app/VelmoApp.h"

#include <iostream>

#include "core/address/DetectionServers.h"
#include "core/text/StringTable.h"
#include "gui/text/Bytes.h"

CVelmoApp::CVelmoApp(bool bBackground)
    : m_strAppName(LoadText(IDS_APP_TITLE)), m_bBackground(bBackground) {}

bool CVelmoApp::InitInstance() {
    SetRegistryKey(QStringLiteral("Ravik"));
    CTestSheet sheet(*m_settings, StartupEnvironment());
    sheet.DoModal(m_bBackground);
    return false;
}

void CVelmoApp::SetRegistryKey(const QString& company) {
    m_settings.emplace(CSettingsStore::UserFile(company, m_strAppName));
}

SheetEnvironment CVelmoApp::StartupEnvironment() {
    const std::string path = DetectionServersFilePath();
    DetectionServersFile file = ReadDetectionServers(path);
    for (const std::string& warning : file.warnings) {
        std::cerr << "velmo: " << warning << '\n';
    }
    SheetEnvironment environment;
    environment.detectionServers = std::move(file.servers);
    if (!file.unusable.empty()) {
        environment.unusableServersFile = path;
        environment.unusableServersWhy = std::move(file.unusable);
    }
    return environment;
}
