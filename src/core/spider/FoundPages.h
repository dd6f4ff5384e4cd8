#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>

// The pages a run found, each listed once: a path met again in other letter case is the same page.
class CFoundPages {
public:
    // True when `path` is new, and then it is kept.
    bool Add(const std::string& path);
    std::size_t Size() const { return m_keys.size(); }
    void Clear() { m_keys.clear(); }

private:
    std::unordered_set<std::string> m_keys;
};
