#include "core/spider/SpiderParams.h"

#include "core/net/RouterUrl.h"

std::string SpiderParams::GetUrl() const {
    std::string url;
    ComposeRouterUrl(nRouterAddress, nRouterPort, strPath, url);
    return url;
}

void CParsedPageList::Clear() {
    m_index.clear();
    m_paths.clear();
}

bool CParsedPageList::CheckParsedPage(const std::string& path) {
    if (m_index.contains(path)) {
        return true;
    }
    m_index.insert(m_paths.emplace_back(path));
    return false;
}
