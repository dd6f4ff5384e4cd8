#include "core/spider/FoundPages.h"

#include "core/text/Ascii.h"

bool CFoundPages::Add(const std::string& path) {
    return m_keys.insert(AsciiLowered(path)).second;
}
