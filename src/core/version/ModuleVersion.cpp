#include "core/version/ModuleVersion.h"

#include <cstdio>

#include "core/text/StringTable.h"

namespace {

std::map<std::string, const VersionResource*>& Modules() {
    static std::map<std::string, const VersionResource*> modules{{"", &ProgramVersionResource()}};
    return modules;
}

}  // namespace

void CModuleVersion::RegisterModule(const std::string& name, const VersionResource* resource) {
    if (resource != nullptr) {
        Modules()[name] = resource;
    } else {
        Modules().erase(name);
    }
}

bool CModuleVersion::LoadVersion(const char* moduleName) {
    const auto found = Modules().find(moduleName != nullptr ? moduleName : "");
    if (found == Modules().end()) {
        return false;
    }
    m_codePage = 1252;
    static_cast<VS_FIXEDFILEINFO&>(*this) = VS_FIXEDFILEINFO{};
    m_block = *found->second;
    static_cast<VS_FIXEDFILEINFO&>(*this) = m_block->fixed;
    if (m_block->translation) {
        m_language = static_cast<std::uint16_t>(*m_block->translation & 0xFFFF);
        m_codePage = static_cast<std::uint16_t>(*m_block->translation >> 16);
    }
    return dwSignature == VS_FFI_SIGNATURE;
}

std::string CModuleVersion::QueryString(const char* name) const {
    if (!m_block) {
        return {};
    }
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", m_language, m_codePage);
    const auto found = m_block->strings.find(prefix + std::string(name));
    return found != m_block->strings.end() ? found->second : std::string();
}

std::string FormatVersionLine(const CModuleVersion& version) {
    char line[96];
    std::snprintf(line, sizeof line, LoadString(IDS_VERSION_FORMAT), version.Major(),
                  version.Minor(), version.Build(), version.Revision());
    return std::string(line) + (version.IsPrerelease() ? " [BETA]" : "");
}
