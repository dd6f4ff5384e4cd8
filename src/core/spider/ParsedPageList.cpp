#include "core/spider/ParsedPageList.h"

#include <algorithm>
#include <functional>
#include <utility>

std::string_view OriginMark(PageOrigin origin, bool bAfterLogin) {
    switch (origin) {
        case PageOrigin::Link:
            return bAfterLogin ? " (after login)" : "";
        case PageOrigin::Script:
            return bAfterLogin ? " (script, after login)" : " (script)";
        case PageOrigin::ScriptNotRequested:
            return " (script, not requested)";
    }
    return {};
}

void CParsedPageList::Clear() {
    m_entries = {};
    m_tails = {};
    m_listed = {};
    m_slots = {};
}

bool CParsedPageList::CheckParsedPage(const std::string& path) {
    return CheckParsedPage(Intern(path, m_listed.empty() ? kNoPath : m_listed.back()));
}

bool CParsedPageList::CheckParsedPage(PathId id, PageOrigin origin) {
    if (m_entries[id].bListed) {
        return true;
    }
    m_entries[id].bListed = true;
    m_entries[id].origin = origin;
    m_listed.push_back(id);
    return false;
}

bool CParsedPageList::ForEachPath(const PathVisitor& visit) const {
    for (const PathId id : m_listed) {
        if (!visit(Text(id), m_entries[id].origin)) {
            return false;
        }
    }
    return true;
}

bool CParsedPageList::ForEachPage(const PageVisitor& visit) const {
    for (const PathId id : m_listed) {
        if (!visit(Text(id), m_entries[id].origin, m_entries[id].bAfterLogin)) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> CParsedPageList::Paths() const {
    std::vector<std::string> paths;
    paths.reserve(m_listed.size());
    for (const PathId id : m_listed) {
        paths.push_back(Text(id));
    }
    return paths;
}

std::string CParsedPageList::Text(PathId id) const {
    // Every base holds more of the text than its own base does, so the walk takes at most one
    // step per character.
    std::vector<std::string_view> pieces;
    std::size_t limit = std::string::npos;
    for (PathId at = id; at != kNoPath && limit != 0;) {
        const Entry& entry = m_entries[at];
        if (limit > entry.keep) {
            const std::string_view tail(m_tails.data() + entry.tail, entry.tailLength);
            pieces.push_back(tail.substr(0, limit - entry.keep));
        }
        limit = std::min<std::size_t>(limit, entry.keep);
        at = entry.base;
    }
    std::string text;
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        text.append(*piece);
    }
    return text;
}

bool CParsedPageList::Equals(PathId id, std::string_view path) const {
    const Entry& entry = m_entries[id];
    if (path.size() != std::size_t{entry.keep} + entry.tailLength) {
        return false;
    }
    // The same walk as Text's, comparing each piece where it stands instead of copying it.
    std::size_t end = path.size();
    for (PathId at = id; at != kNoPath && end != 0; at = m_entries[at].base) {
        const Entry& piece = m_entries[at];
        if (end > piece.keep) {
            if (path.substr(piece.keep, end - piece.keep) !=
                std::string_view(m_tails.data() + piece.tail, end - piece.keep)) {
                return false;
            }
            end = piece.keep;
        }
    }
    return end == 0;
}

CParsedPageList::PathId CParsedPageList::Find(std::string_view path, std::size_t hash) const {
    if (m_slots.empty()) {
        return kNoPath;
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const PathId id = m_slots[slot];
        if (id == kNoPath || (m_entries[id].hash == hash && Equals(id, path))) {
            return id;
        }
    }
}

void CParsedPageList::Index(PathId id) {
    if (m_entries.size() * 2 > m_slots.size()) {
        m_slots.assign(std::max<std::size_t>(64, m_slots.size() * 2), kNoPath);
        for (PathId kept = 0; kept < id; ++kept) {
            Place(kept);
        }
    }
    Place(id);
}

void CParsedPageList::Place(PathId id) {
    const std::size_t mask = m_slots.size() - 1;
    std::size_t slot = m_entries[id].hash & mask;
    while (m_slots[slot] != kNoPath) {
        slot = (slot + 1) & mask;
    }
    m_slots[slot] = id;
}

CParsedPageList::PathId CParsedPageList::Intern(std::string_view path, PathId near,
                                                PathId nearToo) {
    const std::size_t hash = std::hash<std::string_view>()(path);
    if (const PathId found = Find(path, hash); found != kNoPath) {
        return found;
    }
    PathId base = kNoPath;
    std::size_t keep = 0;
    for (const PathId candidate : {near, nearToo}) {
        if (candidate == kNoPath) {
            continue;
        }
        const std::string text = Text(candidate);
        const std::size_t common = static_cast<std::size_t>(
            std::mismatch(path.begin(), path.end(), text.begin(), text.end()).first - path.begin());
        if (common > keep) {
            base = candidate;
            keep = common;
        }
    }
    while (base != kNoPath && keep <= m_entries[base].keep) {
        base = m_entries[base].base;
    }
    if (base == kNoPath) {
        keep = 0;
    }
    Entry entry;
    entry.base = base;
    entry.keep = static_cast<std::uint32_t>(keep);
    entry.tail = m_tails.size();
    entry.tailLength = static_cast<std::uint32_t>(path.size() - keep);
    entry.hash = hash;
    m_tails.append(path.substr(keep));
    m_entries.push_back(entry);
    const auto id = static_cast<PathId>(m_entries.size() - 1);
    Index(id);
    return id;
}

std::size_t CParsedPageList::MemoryBytes() const {
    return m_entries.capacity() * sizeof(Entry) + m_tails.capacity() +
           (m_listed.capacity() + m_slots.capacity()) * sizeof(PathId);
}
