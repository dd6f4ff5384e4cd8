#pragma once

#include <optional>
#include <string_view>
#include <utility>

#include "cli/Output.h"

inline constexpr int kExitInterrupted = 3;
inline constexpr int kExitUsage = 64;         // sysexits' "command line usage error"
inline constexpr int kExitNoHost = 68;        // sysexits' "host name unknown"
inline constexpr int kExitCannotCreate = 73;  // sysexits' "cannot create output"
inline constexpr int kExitOutputFailed = 74;  // sysexits' "input/output error": stdout not written

// A command that ends here: its exit status, its reason said already. Converts to the status, so
// that a command returns Fail(...) or Usage(...) as it is.
struct Exit {
    int status;
    operator int() const { return status; }
};

// The one way a command ends early: `text`, unless empty, said as an error line.
inline Exit Fail(int status, std::string_view text) {
    if (!text.empty()) {
        Say(Priority::Error, text);
    }
    return {status};
}

// A command line, or a value given on it, that cannot be used.
inline Exit Usage(std::string_view text) {
    return Fail(kExitUsage, text);
}

// What a step that may end the command answers: its value, or the Exit of the end.
template <class T>
class OrExit {
public:
    OrExit(T value) : m_value(std::move(value)) {}
    OrExit(Exit exit) : m_status(exit.status) {}

    explicit operator bool() const { return m_value.has_value(); }
    const T& operator*() const { return *m_value; }
    const T* operator->() const { return &*m_value; }
    // The exit status when there is no value.
    int Status() const { return m_status; }

private:
    std::optional<T> m_value;
    int m_status = 0;
};
