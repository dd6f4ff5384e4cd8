#include "core/login/LoginForm.h"

#include <charconv>
#include <utility>

#include "core/text/Ascii.h"

namespace {

// No login form has more; a form that does is not one.
constexpr std::size_t kMaxFields = 64;
constexpr std::size_t kMaxValueBytes = 4096;

struct Tag {
    std::string name;  // lower case; "/form" for an end tag
    std::vector<std::pair<std::string, std::string>> attributes;  // names lower case

    const std::string* Find(std::string_view attribute) const {
        for (const auto& [key, value] : attributes) {
            if (key == attribute) {
                return &value;
            }
        }
        return nullptr;
    }
    std::string Value(std::string_view attribute) const {
        const std::string* value = Find(attribute);
        return value != nullptr ? *value : std::string();
    }
};

void AppendUtf8(std::string& out, unsigned long code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        out += "\xEF\xBF\xBD";
    } else if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// An attribute value with its character references resolved, as a browser submits it.
std::string Decoded(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '&') {
            out += text[at];
            continue;
        }
        const std::string_view rest = text.substr(at + 1);
        bool bDone = false;
        for (const auto& [name, c] : kNamed) {
            if (StartsWithNoCase(rest, name)) {
                out += c;
                at += name.size();
                bDone = true;
                break;
            }
        }
        if (!bDone && rest.size() > 1 && rest[0] == '#') {
            const bool bHex = rest[1] == 'x' || rest[1] == 'X';
            const char* begin = rest.data() + (bHex ? 2 : 1);
            unsigned long code = 0;
            const auto [end, error] =
                std::from_chars(begin, rest.data() + rest.size(), code, bHex ? 16 : 10);
            if (error == std::errc() && end != begin) {
                AppendUtf8(out, code);
                at += static_cast<std::size_t>(end - rest.data());
                if (end < rest.data() + rest.size() && *end == ';') {
                    ++at;
                }
                bDone = true;
            }
        }
        if (!bDone) {
            out += '&';
        }
    }
    return out;
}

constexpr bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// A scan of the tags of a page, one at a time, past comments and the text of scripts and styles.
class CTagScanner {
public:
    explicit CTagScanner(std::string_view page) : m_page(page) {}

    bool Next(Tag& tag) {
        while (true) {
            const std::size_t open = m_page.find('<', m_at);
            if (open == std::string_view::npos) {
                return false;
            }
            m_at = open + 1;
            if (m_page.substr(m_at).starts_with("!--")) {
                const std::size_t close = m_page.find("-->", m_at + 3);
                m_at = close == std::string_view::npos ? m_page.size() : close + 3;
                continue;
            }
            if (!ReadTag(tag)) {
                continue;
            }
            if (tag.name == "script" || tag.name == "style") {
                SkipTo("</" + tag.name);
                continue;
            }
            return true;
        }
    }

private:
    void SkipTo(const std::string& end) {
        for (std::size_t at = m_at; at < m_page.size(); ++at) {
            if (StartsWithNoCase(m_page.substr(at), end)) {
                m_at = at;
                return;
            }
        }
        m_at = m_page.size();
    }

    bool ReadTag(Tag& tag) {
        tag.name.clear();
        tag.attributes.clear();
        std::size_t at = m_at;
        if (at < m_page.size() && m_page[at] == '/') {
            tag.name += '/';
            ++at;
        }
        while (at < m_page.size() && IsAsciiAlnum(m_page[at])) {
            tag.name += AsciiLower(m_page[at++]);
        }
        if (tag.name.empty() || tag.name == "/") {
            return false;
        }
        while (true) {
            while (at < m_page.size() && (IsSpace(m_page[at]) || m_page[at] == '/')) {
                ++at;
            }
            if (at >= m_page.size() || m_page[at] == '>') {
                m_at = std::min(at + 1, m_page.size());
                return true;
            }
            std::string name;
            while (at < m_page.size() && !IsSpace(m_page[at]) && m_page[at] != '=' &&
                   m_page[at] != '>' && m_page[at] != '/') {
                name += AsciiLower(m_page[at++]);
            }
            while (at < m_page.size() && IsSpace(m_page[at])) {
                ++at;
            }
            std::string value;
            if (at < m_page.size() && m_page[at] == '=') {
                ++at;
                while (at < m_page.size() && IsSpace(m_page[at])) {
                    ++at;
                }
                std::size_t end = at;
                if (at < m_page.size() && (m_page[at] == '"' || m_page[at] == '\'')) {
                    end = m_page.find(m_page[at], at + 1);
                    end = end == std::string_view::npos ? m_page.size() : end;
                    value = Decoded(m_page.substr(at + 1, end - at - 1));
                    at = std::min(end + 1, m_page.size());
                } else {
                    while (end < m_page.size() && !IsSpace(m_page[end]) && m_page[end] != '>') {
                        ++end;
                    }
                    value = Decoded(m_page.substr(at, end - at));
                    at = end;
                }
            }
            if (name.empty()) {
                ++at;
            } else if (tag.attributes.size() < kMaxFields) {
                tag.attributes.emplace_back(std::move(name), std::move(value));
            }
        }
    }

    std::string_view m_page;
    std::size_t m_at = 0;
};

void AppendEncoded(std::string& out, std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsAsciiAlnum(c) || c == '*' || c == '-' || c == '.' || c == '_') {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0x0F];
        }
    }
}

}  // namespace

std::optional<LoginForm> FindLoginForm(std::string_view page) {
    CTagScanner scanner(page);
    Tag tag;
    LoginForm form;
    int forms = 0;
    bool bInForm = false;
    bool bSubmitTaken = false;
    int passwords = 0;
    int users = 0;
    bool bOther = false;  // an input a login form does not hold
    while (scanner.Next(tag)) {
        if (tag.name == "form") {
            if (++forms > 1) {
                return std::nullopt;
            }
            bInForm = true;
            form.bPost = EqualsNoCase(tag.Value("method"), "post");
            form.action = std::string(Trimmed(tag.Value("action")));
            continue;
        }
        if (tag.name == "/form") {
            bInForm = false;
            continue;
        }
        if (!bInForm) {
            continue;
        }
        if (tag.name == "select" || tag.name == "textarea") {
            bOther = true;
            continue;
        }
        const bool bButton = tag.name == "button";
        if (tag.name != "input" && !bButton) {
            continue;
        }
        const std::string type = AsciiLowered(std::string(Trimmed(
            tag.Value("type").empty() ? (bButton ? "submit" : "text") : tag.Value("type"))));
        const std::string name = tag.Value("name");
        const bool bDisabled = tag.Find("disabled") != nullptr;
        std::string value = tag.Value("value");
        if (form.fields.size() >= kMaxFields || value.size() > kMaxValueBytes) {
            return std::nullopt;
        }
        if (type == "password") {
            ++passwords;
            if (!name.empty() && !bDisabled) {
                form.fields.push_back({name, {}, LoginForm::Kind::Password});
            }
        } else if (!bButton && (type == "text" || type == "email")) {
            ++users;
            if (!name.empty() && !bDisabled) {
                form.fields.push_back({name, {}, LoginForm::Kind::User});
            }
        } else if (!bButton && type == "hidden") {
            if (!name.empty() && !bDisabled) {
                form.fields.push_back({name, std::move(value)});
            }
        } else if (!bButton && type == "checkbox") {
            if (!name.empty() && !bDisabled && tag.Find("checked") != nullptr) {
                form.fields.push_back({name, value.empty() ? "on" : std::move(value)});
            }
        } else if (type == "submit" || (!bButton && type == "image")) {
            // The button a user presses to log in: the first one.
            if (!std::exchange(bSubmitTaken, true) && !name.empty() && !bDisabled) {
                if (type == "image") {
                    form.fields.push_back({name + ".x", "0"});
                    form.fields.push_back({name + ".y", "0"});
                } else {
                    form.fields.push_back({name, std::move(value)});
                }
            }
        } else if (type != "button" && type != "reset") {
            bOther = true;
        }
    }
    if (forms != 1 || passwords != 1 || users > 1 || bOther) {
        return std::nullopt;
    }
    return form;
}

std::string LoginForm::Encode(std::string_view login, std::string_view password) const {
    std::string body;
    for (const Field& field : fields) {
        if (!body.empty()) {
            body += '&';
        }
        AppendEncoded(body, field.name);
        body += '=';
        AppendEncoded(body, field.kind == Kind::User       ? login
                            : field.kind == Kind::Password ? password
                                                           : std::string_view(field.value));
    }
    return body;
}

bool LoginForm::SameAs(const LoginForm& other) const {
    const auto named = [](const LoginForm& form, Kind kind) {
        for (const Field& field : form.fields) {
            if (field.kind == kind) {
                return field.name;
            }
        }
        return std::string();
    };
    // Hidden fields may be named anew on every page: an anti-CSRF token's often is.
    return bPost == other.bPost && action == other.action &&
           named(*this, Kind::User) == named(other, Kind::User) &&
           named(*this, Kind::Password) == named(other, Kind::Password);
}
