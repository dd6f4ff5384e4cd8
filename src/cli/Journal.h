#pragma once

#include <optional>
#include <string>
#include <string_view>

// Entries that keep their unit in the journal. A line written to the journal's stream is filed
// under the unit that the journal finds for the writing process when it reads the line; a program
// that fails at once is gone by then, and its reason would be filed under no unit, out of sight of
// journalctl --user -u. So when standard error is the journal's stream of a user service, each
// message goes as an entry of its own (the journal's native protocol) that names its unit
// (USER_UNIT, which journalctl --user -u matches for the user's own entries).

// The service of a user manager that the cgroup path `cgroup` ("/user.slice/.../user@1000.service/
// app.slice/velmo-poll@home.service") places the process in; none outside a user's service (a
// system service, a terminal's scope).
std::optional<std::string> UserUnitOfCgroup(std::string_view cgroup);

// Sends `line` at `priority` (syslog's: 3 for an error) as one journal entry of this process's
// user unit, when standard error is the journal's stream; false when it did not, and the line is
// the caller's to write.
bool SendToJournal(int priority, std::string_view line);
