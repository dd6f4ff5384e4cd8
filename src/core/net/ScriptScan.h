#pragma once

#include <functional>
#include <string>
#include <string_view>

// What the deeper search takes from a router's pages and scripts besides the links the crawl
// follows: what a browser loads with a page by itself, and the page names that scripts hold. Plain
// forward scans, one pass each, that copy nothing: every text handed out is a piece of the text
// scanned.

enum class DeepLinkKind {
    Loaded,  // iframe or frame src, meta refresh target: loaded with the page
    Script,  // script src: loaded and run with the page
    Name,    // a page name in script text
};

using DeepLinkVisitor = std::function<void(DeepLinkKind kind, std::string_view text)>;
using NameVisitor = std::function<void(std::string_view name)>;

// Names longer than this are not taken: no router names a page so.
inline constexpr std::size_t kMaxNameLength = 1024;

// The deep links of an HTML page in document order: iframe and frame src, script src, meta refresh
// targets, and the page names in script blocks, in on... attribute values and in javascript:
// values. HTML comments are passed over, as a browser does.
void FindDeepLinks(std::string_view page, const DeepLinkVisitor& visit);

// The page names in script text: the pieces of its string literals that end in a page-like
// extension, as in "adm/status.shtml" or '<iframe src="left.asp">'. A piece ends at any byte that
// cannot stand in a name, so query and fragment are never part of one. Comments are passed over.
void FindScriptNames(std::string_view script, const NameVisitor& visit);

// Whether `name` ends in a page-like extension (.asp .aspx .htm .html .shtml .stm .cgi .php .jsp
// .lua .js .jsx .xml .json, any case) with something before it.
bool IsPageName(std::string_view name);

// Whether the path names a script, to be searched for names rather than links: .js, .jsx or .json.
bool IsScriptPath(std::string_view path);

// Whether any part of `path` (a segment, its parameters, the query; not the fragment, never sent)
// holds a word of an action that changes the router: logout, logoff, reboot, restart, reset,
// factory, upgrade, firmware, restore, erase, format (ASCII, any case), %-decoded as the router
// reads it. Deep discovery lists such a name but never requests it; only a link leading there does.
bool NamesAnAction(std::string_view path);

// Answers whether an absolute http:// or https:// URL names the router (its scheme, address and
// port).
using RouterCheck = std::function<bool(const std::string& url)>;

// The router path a deep link leads to from the page at `base`, as a browser resolves it: relative
// references against the page's folder, dot segments removed, the fragment dropped; an http://,
// https:// or "//" (taken as http://) URL only when `isRouter` says it names the router. Empty when
// it leads anywhere else: another scheme, another host, nothing at all.
std::string ResolveBrowserPath(std::string_view base, std::string_view reference,
                               const RouterCheck& isRouter);
