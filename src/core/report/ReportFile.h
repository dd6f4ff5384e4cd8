#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "core/report/ReportWriter.h"

// Told the name of the temporary file while the name is in use: before the file is created and
// until it is renamed or removed, then null. For a program that may end from a signal handler and
// must not leave the file behind; it runs on the writing thread.
using TemporaryNameHook = void (*)(const char* name);

// Writes a report to `path` through `produce`, which answers false to give up. The text goes into
// a new file beside `path`, created exclusively with `mode` less the umask, and is renamed over
// `path` only once it is whole: a half-written report never stands, and a symbolic link planted at
// `path` is replaced, never followed. A `path` that exists and is neither a regular file nor a
// link to one (a device, a FIFO, a folder) is refused and left as it is, and so is a link that
// leads through /proc (/dev/stdout), whatever stands at its end, whoever runs it. On failure
// `error` says why and `path` is as it was.
bool WriteReportFile(const std::string& path, mode_t mode,
                     const std::function<bool(CReportWriter&)>& produce, std::string& error,
                     TemporaryNameHook temporaryName = nullptr);

// The same for a report that is one text already.
bool WriteReportFile(const std::string& path, std::string_view text, mode_t mode,
                     std::string& error, TemporaryNameHook temporaryName = nullptr);

class CParsedPageList;

// The parsed-pages report of `pages`, streamed path by path into `path` as above. A set `stop`
// gives up between two paths. `router`: see ParsedPagesReportHead.
bool WriteParsedPagesReport(const std::string& path, const CParsedPageList& pages, mode_t mode,
                            std::string& error, const std::atomic<bool>* stop = nullptr,
                            TemporaryNameHook temporaryName = nullptr,
                            std::string_view router = {});
