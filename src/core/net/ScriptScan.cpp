#include "core/net/ScriptScan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/text/Ascii.h"

namespace {

constexpr std::string_view kPageExtensions[] = {"asp", "aspx", "htm", "html", "shtml",
                                                "stm", "cgi",  "php", "jsp",  "lua",
                                                "js",  "jsx",  "xml", "json"};
constexpr std::string_view kScriptExtensions[] = {"js", "jsx", "json"};
constexpr std::string_view kActionWords[] = {"logout",  "logoff",  "reboot",  "restart",
                                             "reset",   "factory", "upgrade", "firmware",
                                             "restore", "erase",   "format"};

constexpr bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The bytes a page name may hold: a query, a fragment, quotes, spaces, "=" and ";" end it.
constexpr std::array<bool, 256> kNameChars = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        table[static_cast<std::size_t>(c)] = IsAsciiLetter(ch) || IsAsciiDigit(ch);
    }
    for (const char c : std::string_view("-_./~%:+@")) {
        table[static_cast<unsigned char>(c)] = true;
    }
    return table;
}();

constexpr bool IsNameChar(char c) {
    return kNameChars[static_cast<unsigned char>(c)];
}

int HexValue(char c) {
    if (IsAsciiDigit(c)) {
        return c - '0';
    }
    const char lower = AsciiLower(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Each "%XX" made the byte it stands for; a "%" without two hex digits after it stays.
std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const int high = text[at] == '%' && at + 2 < text.size() ? HexValue(text[at + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[at + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            at += 2;
        } else {
            out += text[at];
        }
    }
    return out;
}

// The extension after the last dot of the path part (before any query or fragment).
std::string_view Extension(std::string_view path) {
    path = path.substr(0, path.find_first_of("?#"));
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) {
        return {};
    }
    return path.substr(dot + 1);
}

template <std::size_t N>
bool IsOneOf(std::string_view word, const std::string_view (&words)[N]) {
    for (const std::string_view candidate : words) {
        if (EqualsNoCase(word, candidate)) {
            return true;
        }
    }
    return false;
}

// Where `key` next stands at or after `from`, letter case aside, or npos.
std::size_t FindNoCase(std::string_view text, std::string_view key, std::size_t from) {
    while (from < text.size()) {
        const void* found = std::memchr(text.data() + from, key.front(), text.size() - from);
        if (found == nullptr) {
            return std::string_view::npos;
        }
        const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        if (EqualsNoCase(text.substr(at, key.size()), key)) {
            return at;
        }
        from = at + 1;
    }
    return std::string_view::npos;
}

// RFC 3986's remove_dot_segments, on a path that begins with "/".
std::string RemoveDotSegments(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    const auto dropLastSegment = [&out] { out.erase(std::min(out.size(), out.rfind('/'))); };
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../")) {
            in.remove_prefix(3);
            dropLastSegment();
        } else if (in == "/..") {
            in = "/";
            dropLastSegment();
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const std::size_t end = in.find('/', 1);
            const std::size_t length = end == std::string_view::npos ? in.size() : end;
            out.append(in.substr(0, length));
            in.remove_prefix(length);
        }
    }
    return out;
}

// The path and query of `path` with its dot segments removed and its fragment dropped.
std::string Normalized(std::string_view path) {
    path = path.substr(0, path.find('#'));
    const std::size_t query = path.find('?');
    const std::string_view part = path.substr(0, query);
    // Every segment follows a "/", so without "/." there is none to remove.
    std::string out =
        part.find("/.") == std::string_view::npos ? std::string(part) : RemoveDotSegments(part);
    if (out.empty()) {
        out = "/";
    }
    if (query != std::string_view::npos) {
        out.append(path.substr(query));
    }
    return out;
}

// Whether the reference starts with a scheme ("mailto:", "https:"...), as a browser reads one.
bool HasScheme(std::string_view reference) {
    if (reference.empty() || !IsAsciiLetter(reference.front())) {
        return false;
    }
    for (const char c : reference) {
        if (c == ':') {
            return true;
        }
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return false;
}

// The target of a meta refresh's content: "5; url='x.htm'", "0;URL=x.htm" or "0; x.htm".
std::string_view RefreshTarget(std::string_view content) {
    std::size_t at = content.find_first_not_of(kAsciiSpace);
    at = content.find_first_not_of("0123456789.", at == std::string_view::npos ? 0 : at);
    at = content.find_first_not_of(kAsciiSpace, at == std::string_view::npos ? content.size() : at);
    if (at == std::string_view::npos || (content[at] != ';' && content[at] != ',')) {
        return {};  // no target: the page reloads itself
    }
    content = Trimmed(content.substr(at + 1));
    if (StartsWithNoCase(content, "url")) {
        const std::string_view rest = Trimmed(content.substr(3));
        if (!rest.empty() && rest.front() == '=') {
            content = Trimmed(rest.substr(1));
        }
    }
    if (!content.empty() && (content.front() == '"' || content.front() == '\'')) {
        const char quote = content.front();
        content.remove_prefix(1);
        content = content.substr(0, content.find(quote));
    }
    return content;
}

// How the script scanner sees each byte.
enum ScriptChar : std::uint8_t { kCode, kBlank, kQuote };

constexpr std::array<std::uint8_t, 256> kScriptChars = [] {
    std::array<std::uint8_t, 256> table{};
    for (const char c : std::string_view(" \t\r\n\f\v")) {
        table[static_cast<unsigned char>(c)] = kBlank;
    }
    for (const char c : std::string_view("\"'`")) {
        table[static_cast<unsigned char>(c)] = kQuote;
    }
    return table;
}();

constexpr bool IsWordChar(char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_' || c == '$';
}

// One pass over script text, keeping track of just enough of the language to tell strings from
// comments and regular expressions. Code between them is only stepped over: what stood last before
// a slash is looked at when a slash comes.
class CScriptScanner {
public:
    CScriptScanner(std::string_view script, const NameVisitor& visit)
        : m_text(script), m_visit(visit) {}

    void Run() {
        while (m_at < m_text.size()) {
            const std::size_t next = NextQuoteOrSlash(m_at);
            for (std::size_t at = next; at > m_at; --at) {
                if (kScriptChars[static_cast<unsigned char>(m_text[at - 1])] != kBlank) {
                    m_last = at - 1;
                    break;
                }
            }
            m_at = next;
            if (m_at == m_text.size()) {
                return;
            }
            const char c = m_text[m_at];
            if (c == '/') {
                Slash();
            } else {
                String(c);
                m_last = kOperand;
            }
        }
    }

private:
    static constexpr std::size_t kNothing = std::string_view::npos;
    static constexpr std::size_t kOperand = kNothing - 1;  // a string or regular expression

    // Where the next quote or slash stands at or after `from`, or the end: eight bytes at a time,
    // since most of a script is code that only needs stepping over.
    std::size_t NextQuoteOrSlash(std::size_t from) const {
        while (from + 8 <= m_text.size()) {
            const std::uint64_t word = WordAt(m_text.data() + from);
            if (AnyByteIs(word, '"') || AnyByteIs(word, '\'') || AnyByteIs(word, '`') ||
                AnyByteIs(word, '/')) {
                break;
            }
            from += 8;
        }
        while (from < m_text.size() &&
               kScriptChars[static_cast<unsigned char>(m_text[from])] != kQuote &&
               m_text[from] != '/') {
            ++from;
        }
        return from;
    }

    void String(char quote) {
        std::size_t piece = ++m_at;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (IsNameChar(c)) {
                ++m_at;
                continue;
            }
            Piece(piece, m_at);
            if (c == quote || (c == '\n' && quote != '`')) {
                ++m_at;
                return;
            }
            m_at = c == '\\' ? std::min(m_text.size(), m_at + 2) : m_at + 1;
            piece = m_at;
        }
        Piece(piece, m_at);
    }

    void Piece(std::size_t start, std::size_t end) {
        if (end > start) {
            const std::string_view name = m_text.substr(start, end - start);
            if (name.size() <= kMaxNameLength && IsPageName(name)) {
                m_visit(name);
            }
        }
    }

    void Slash() {
        const char next = m_at + 1 < m_text.size() ? m_text[m_at + 1] : '\0';
        if (next == '/') {
            const std::size_t end = m_text.find('\n', m_at);
            m_at = end == std::string_view::npos ? m_text.size() : end;
        } else if (next == '*') {
            const std::size_t end = m_text.find("*/", m_at + 2);
            m_at = end == std::string_view::npos ? m_text.size() : end + 2;
        } else if (EndsOperand()) {
            m_last = m_at++;  // a division
        } else {
            RegularExpression();
            m_last = kOperand;
        }
    }

    // Whether what stands last ends an operand, so that a slash after it divides: a name, a
    // number, a closing bracket, a string; not an operator, an opening bracket, or a word such as
    // "return" after which an expression begins.
    bool EndsOperand() const {
        if (m_last == kOperand) {
            return true;
        }
        if (m_last == kNothing) {
            return false;
        }
        const char c = m_text[m_last];
        if (!IsWordChar(c)) {
            return c == ')' || c == ']' || c == '.';
        }
        std::size_t start = m_last;
        while (start > 0 && IsWordChar(m_text[start - 1])) {
            --start;
        }
        static constexpr std::string_view kBeforeExpression[] = {
            "return", "typeof", "case", "do",    "else",       "in",    "of",
            "new",    "delete", "void", "throw", "instanceof", "yield", "await"};
        const std::string_view word = m_text.substr(start, m_last + 1 - start);
        for (const std::string_view keyword : kBeforeExpression) {
            if (word == keyword) {
                return false;
            }
        }
        return true;
    }

    // Passed over up to its closing slash, or the end of the line when it has none.
    void RegularExpression() {
        bool bInClass = false;
        for (++m_at; m_at < m_text.size(); ++m_at) {
            const char c = m_text[m_at];
            if (c == '\\') {
                ++m_at;
            } else if (c == '\n') {
                return;
            } else if (bInClass) {
                bInClass = c != ']';
            } else if (c == '[') {
                bInClass = true;
            } else if (c == '/') {
                ++m_at;
                return;
            }
        }
    }

    std::string_view m_text;
    const NameVisitor& m_visit;
    std::size_t m_at = 0;
    std::size_t m_last = kNothing;  // where the last code byte stands, or kOperand
};

// One pass over an HTML page, tag by tag.
class CPageScanner {
public:
    CPageScanner(std::string_view page, const DeepLinkVisitor& visit)
        : m_text(page), m_visit(visit) {}

    void Run() {
        while (true) {
            const void* found = m_at < m_text.size()
                                    ? std::memchr(m_text.data() + m_at, '<', m_text.size() - m_at)
                                    : nullptr;
            if (found == nullptr) {
                return;
            }
            m_at = static_cast<std::size_t>(static_cast<const char*>(found) - m_text.data()) + 1;
            if (m_text.substr(m_at).starts_with("!--")) {
                const std::size_t end = m_text.find("-->", m_at + 3);
                m_at = end == std::string_view::npos ? m_text.size() : end + 3;
            } else if (m_at < m_text.size() && IsAsciiLetter(m_text[m_at])) {
                Tag();
            }
        }
    }

private:
    static bool IsTagEnd(char c) { return IsSpace(c) || c == '/' || c == '>'; }

    // The run from `from` up to the first byte `stops` answers true for, or the end.
    std::string_view Span(std::size_t from, bool (*stops)(char)) {
        m_at = from;
        while (m_at < m_text.size() && !stops(m_text[m_at])) {
            ++m_at;
        }
        return m_text.substr(from, m_at - from);
    }

    void SkipSpace() {
        while (m_at < m_text.size() && IsSpace(m_text[m_at])) {
            ++m_at;
        }
    }

    void Tag() {
        const std::string_view name = Span(m_at, IsTagEnd);
        const bool bScript = EqualsNoCase(name, "script");
        const bool bLoadsSource =
            bScript || EqualsNoCase(name, "iframe") || EqualsNoCase(name, "frame");
        const bool bMeta = EqualsNoCase(name, "meta");
        bool bRefresh = false;
        std::string_view content;
        while (true) {
            while (m_at < m_text.size() && (IsSpace(m_text[m_at]) || m_text[m_at] == '/')) {
                ++m_at;
            }
            if (m_at >= m_text.size()) {
                return;
            }
            if (m_text[m_at] == '>') {
                ++m_at;
                break;
            }
            // A name may begin with "=", as in HTML; it ends at space, "/", ">" or "=".
            const std::size_t nameStart = m_at;
            Span(m_at + 1, [](char c) { return IsTagEnd(c) || c == '='; });
            const std::string_view attribute = m_text.substr(nameStart, m_at - nameStart);
            SkipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != '=') {
                continue;
            }
            ++m_at;
            SkipSpace();
            const std::string_view value = Value();
            const std::string_view trimmed = Trimmed(value);
            const bool bJavaScript = StartsWithNoCase(trimmed, "javascript:");
            if (bLoadsSource && !bJavaScript && EqualsNoCase(attribute, "src")) {
                m_visit(bScript ? DeepLinkKind::Script : DeepLinkKind::Loaded, value);
            } else if (attribute.size() > 2 && StartsWithNoCase(attribute, "on")) {
                Names(value);
            } else if (bJavaScript) {
                Names(trimmed.substr(11));
            } else if (bMeta && EqualsNoCase(attribute, "http-equiv")) {
                bRefresh = EqualsNoCase(trimmed, "refresh");
            } else if (bMeta && EqualsNoCase(attribute, "content")) {
                content = value;
            }
        }
        if (bRefresh) {
            if (const std::string_view target = RefreshTarget(content); !target.empty()) {
                m_visit(DeepLinkKind::Loaded, target);
            }
        }
        if (bScript) {
            const std::size_t end = FindNoCase(m_text, "</script", m_at);
            const std::size_t stop = end == std::string_view::npos ? m_text.size() : end;
            Names(m_text.substr(m_at, stop - m_at));
            m_at = stop;
        }
    }

    // A quoted value up to its closing quote (or the end), a bare one up to a space or ">".
    std::string_view Value() {
        if (m_at < m_text.size() && (m_text[m_at] == '"' || m_text[m_at] == '\'')) {
            const char quote = m_text[m_at++];
            const std::size_t start = m_at;
            const std::size_t end = m_text.find(quote, start);
            m_at = end == std::string_view::npos ? m_text.size() : end + 1;
            return m_text.substr(start,
                                 (end == std::string_view::npos ? m_text.size() : end) - start);
        }
        return Span(m_at, [](char c) { return IsSpace(c) || c == '>'; });
    }

    void Names(std::string_view script) {
        FindScriptNames(script,
                        [this](std::string_view name) { m_visit(DeepLinkKind::Name, name); });
    }

    std::string_view m_text;
    const DeepLinkVisitor& m_visit;
    std::size_t m_at = 0;
};

}  // namespace

void FindDeepLinks(std::string_view page, const DeepLinkVisitor& visit) {
    CPageScanner(page, visit).Run();
}

void FindScriptNames(std::string_view script, const NameVisitor& visit) {
    CScriptScanner(script, visit).Run();
}

bool IsPageName(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot != std::string_view::npos && dot > 0 && name[dot - 1] != '/' &&
           IsOneOf(name.substr(dot + 1), kPageExtensions);
}

bool IsScriptPath(std::string_view path) {
    return IsOneOf(Extension(path), kScriptExtensions);
}

bool NamesAnAction(std::string_view path) {
    path = path.substr(0, path.find('#'));  // never sent
    // The whole path: a word in any segment, its ";" parameters or the query may name what runs,
    // as "cgi-bin/reboot.cgi/status.htm" runs reboot.cgi. Compared as the router reads it, decoded
    // until nothing more decodes, so that "%72eboot.cgi" and "%2572eboot.cgi" are "reboot.cgi"
    // too and a "%2F" hides no segment.
    std::string text(path);
    for (std::string decoded; (decoded = PercentDecoded(text)) != text;) {
        text = std::move(decoded);
    }
    text = AsciiLowered(std::move(text));
    for (const std::string_view word : kActionWords) {
        if (text.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string ResolveBrowserPath(std::string_view base, std::string_view reference,
                               const RouterCheck& isRouter) {
    std::string text(Trimmed(reference));
    if (text.find_first_of("\t\r\n") != std::string::npos) {
        std::erase_if(text, [](char c) { return c == '\t' || c == '\r' || c == '\n'; });
    }
    if (text.empty() || text.front() == '#') {
        return {};
    }
    if (text.starts_with("//")) {
        text.insert(0, "http:");
    }
    if (HasScheme(text)) {
        // Which scheme the router is asked by is the router check's to say.
        if (!(StartsWithNoCase(text, "http://") || StartsWithNoCase(text, "https://")) ||
            !isRouter || !isRouter(text)) {
            return {};
        }
        const std::size_t path = text.find_first_of("/?#", text.find("://") + 3);
        if (path == std::string::npos) {
            return "/";
        }
        return Normalized(text[path] == '/' ? text.substr(path) : "/" + text.substr(path));
    }
    if (text.front() == '/') {
        return Normalized(text);
    }
    base = base.substr(0, base.find_first_of("?#"));
    if (base.empty() || base.front() != '/') {
        base = "/";
    }
    if (text.front() == '?') {
        return Normalized(std::string(base) + text);
    }
    return Normalized(std::string(base.substr(0, base.rfind('/') + 1)) + text);
}
