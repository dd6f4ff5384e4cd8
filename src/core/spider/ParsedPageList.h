#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// How the crawl came to list a page: through a link, or only through the deeper search of scripts,
// frames and refresh targets; and then whether it was left unrequested because its name suggests an
// action such as a restart.
enum class PageOrigin : std::uint8_t { Link, Script, ScriptNotRequested };

// What follows a listed path to say how it was reached: nothing for a link, " (script)" or
// " (script, not requested)"; and, for a page read once the router's login form had let Velmo in,
// " (after login)" or " (script, after login)".
std::string_view OriginMark(PageOrigin origin, bool bAfterLogin = false);

// Every path the crawl listed, in the order first met: those it decided to fetch, and those deep
// discovery found but left unrequested (PageOrigin); also its set of visited paths.
//
// Paths are stored once each, by id, and each shares the start it has in common with a nearby
// path (the page it was found on, the link before it), so that the list stays small however long
// a deep router's paths grow. The crawl also keeps here the paths it has met but not listed yet.
class CParsedPageList {
public:
    using PathId = std::uint32_t;
    static constexpr PathId kNoPath = ~PathId{0};

    using PathVisitor = std::function<bool(const std::string& path, PageOrigin origin)>;
    using PageVisitor =
        std::function<bool(const std::string& path, PageOrigin origin, bool bAfterLogin)>;

    void Clear();
    // True when `path` was there already; otherwise appends it and answers false.
    bool CheckParsedPage(const std::string& path);
    // Hands `visit` each listed path in order with how it was reached, one expanded at a time, so
    // that printing a list of any length costs one path's memory; stops early, answering false,
    // when `visit` does.
    bool ForEachPath(const PathVisitor& visit) const;
    // The same, with whether each page was read after a login.
    bool ForEachPage(const PageVisitor& visit) const;
    // Every path at once; for tests and small lists.
    std::vector<std::string> Paths() const;
    std::size_t Size() const { return m_listed.size(); }

    // The id of `path`, kept but not listed when new; `near` and `nearToo` are paths likely to
    // share its start.
    PathId Intern(std::string_view path, PathId near = kNoPath, PathId nearToo = kNoPath);
    // The id of `path` when it is kept already, else kNoPath; keeps nothing.
    PathId Find(std::string_view path) const {
        return Find(path, std::hash<std::string_view>()(path));
    }
    // CheckParsedPage for a kept path, listed as reached through `origin` when new.
    bool CheckParsedPage(PathId id, PageOrigin origin = PageOrigin::Link);
    bool IsListed(PathId id) const { return m_entries[id].bListed; }
    PageOrigin Origin(PathId id) const { return m_entries[id].origin; }
    void SetOrigin(PathId id, PageOrigin origin) { m_entries[id].origin = origin; }
    bool IsAfterLogin(PathId id) const { return m_entries[id].bAfterLogin; }
    void SetAfterLogin(PathId id) { m_entries[id].bAfterLogin = true; }
    std::string Text(PathId id) const;
    // The bytes of its text that the list holds for `id` alone, the rest being shared.
    std::size_t OwnBytes(PathId id) const { return m_entries[id].tailLength; }
    // Bytes held, for the memory checks of tests and benchmarks.
    std::size_t MemoryBytes() const;

private:
    // A path is the first `keep` characters of `base`'s text followed by its own tail.
    struct Entry {
        PathId base = kNoPath;
        std::uint32_t keep = 0;
        std::uint64_t tail = 0;  // offset in m_tails
        std::uint32_t tailLength = 0;
        bool bListed = false;
        PageOrigin origin = PageOrigin::Link;
        bool bAfterLogin = false;
        std::size_t hash = 0;
    };

    PathId Find(std::string_view path, std::size_t hash) const;
    bool Equals(PathId id, std::string_view path) const;
    void Index(PathId id);
    void Place(PathId id);

    std::vector<Entry> m_entries;
    std::string m_tails;
    std::vector<PathId> m_listed;  // in the order first met
    std::vector<PathId> m_slots;   // open-addressed by hash; kNoPath is a free slot
};
