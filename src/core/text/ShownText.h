#pragma once

#include <string>
#include <string_view>

// Router text on its way to a terminal line or the report. Each byte that could steer what the
// reader sees becomes %XX, as in a URL: C0 controls and DEL, the C1 controls (U+0080 to U+009F),
// the bidirectional marks, embeddings, overrides and isolates, the line and paragraph separators,
// and every byte that is not part of well-formed UTF-8 (raw 0x80 to 0x9F included). Well-formed
// UTF-8 of any other character passes unchanged.
std::string EscapeUnsafeText(std::string_view text);
// The same, appended to `out`.
void AppendEscapedUnsafeText(std::string& out, std::string_view text);
