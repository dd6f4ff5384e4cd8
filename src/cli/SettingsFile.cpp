#include "cli/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) + 1 - first);
}

void AppendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | ((code >> 12) & 0x0F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Appends the character that the escape at `value[at]` (just after the backslash) stands for and
// answers the index after it.
std::size_t Unescape(std::string_view value, std::size_t at, std::string& out) {
    if (at >= value.size()) {
        return at;
    }
    constexpr std::string_view kLetters = "abfnrtv";
    constexpr std::string_view kControls = "\a\b\f\n\r\t\v";
    const char c = value[at++];
    if (const std::size_t letter = kLetters.find(c); letter != std::string_view::npos) {
        out += kControls[letter];
    } else if (c == 'x' || c == '0') {
        const int base = c == 'x' ? 16 : 8;
        unsigned long code = 0;
        for (; at < value.size() && code <= 0xFFFF; ++at) {
            const char digit = value[at];
            int v = -1;
            if (digit >= '0' && digit <= '9') {
                v = digit - '0';
            } else if (base == 16 && digit >= 'a' && digit <= 'f') {
                v = digit - 'a' + 10;
            } else if (base == 16 && digit >= 'A' && digit <= 'F') {
                v = digit - 'A' + 10;
            }
            if (v < 0 || v >= base) {
                break;
            }
            code = code * static_cast<unsigned long>(base) + static_cast<unsigned long>(v);
        }
        AppendUtf8(out, code);
    } else {
        out += c;  // \" \\ \, \; \= and the like stand for themselves
    }
    return at;
}

// One value as a list: commas outside quotes separate elements, blanks around an element go,
// an unquoted ";" starts a comment, and empty elements (a trailing comma) are dropped.
std::vector<std::string> SplitList(std::string_view value) {
    std::vector<std::string> elements;
    std::string current;
    std::string blanks;  // unquoted blanks, kept only when more of the element follows
    bool bQuoted = false;
    const auto append = [&](char c) {
        if (!current.empty()) {
            current += blanks;
        }
        blanks.clear();
        current += c;
    };
    for (std::size_t at = 0; at < value.size();) {
        const char c = value[at++];
        if (c == '"') {
            bQuoted = !bQuoted;
            if (bQuoted && !current.empty()) {
                current += blanks;
            }
            blanks.clear();
        } else if (c == '\\') {
            std::string escaped;
            at = Unescape(value, at, escaped);
            for (const char e : escaped) {
                append(e);
            }
        } else if (bQuoted) {
            current += c;
        } else if (c == ',') {
            if (!current.empty()) {
                elements.push_back(std::move(current));
            }
            current.clear();
            blanks.clear();
        } else if (c == ';') {
            break;
        } else if (kBlanks.find(c) != std::string_view::npos) {
            blanks += c;
        } else {
            append(c);
        }
    }
    if (!current.empty()) {
        elements.push_back(std::move(current));
    }
    return elements;
}

}  // namespace

std::string SettingsFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        folder = std::string(home) + "/.config";
    } else {
        return {};
    }
    return folder + "/Ravik/Velmo.ini";
}

std::optional<std::string> ReadSettingsText(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> text;
    struct stat status = {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        text.emplace(kMaxSettingsBytes, '\0');
        std::size_t size = 0;
        while (size < text->size()) {
            const ssize_t n = read(fd, text->data() + size, text->size() - size);
            if (n <= 0) {
                break;
            }
            size += static_cast<std::size_t>(n);
        }
        text->resize(size);
    }
    close(fd);
    return text;
}

std::optional<std::vector<std::string>> DetectionServerEntries(std::string_view ini) {
    if (ini.starts_with("\xEF\xBB\xBF")) {
        ini.remove_prefix(3);
    }
    std::optional<std::vector<std::string>> entries;
    bool bInSection = false;
    while (!ini.empty()) {
        const std::size_t end = ini.find_first_of("\r\n");
        const std::string_view line = Trimmed(ini.substr(0, end));
        ini.remove_prefix(end == std::string_view::npos ? ini.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            bInSection = line == "[Detection]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!bInSection || equals == std::string_view::npos ||
            Trimmed(line.substr(0, equals)) != "Servers") {
            continue;
        }
        const std::string_view value = Trimmed(line.substr(equals + 1));
        if (value == "@Invalid()" || value.empty()) {
            entries.emplace();  // an empty list
        } else {
            entries = SplitList(value);
        }
    }
    return entries;
}
