#!/usr/bin/env bash
# A plain and a deep crawl (velmo-cli spider, then with --deep) of the same 2,000 linked pages,
# served by nginx on loopback, each page carrying a 60 KiB menu script in the page itself: the
# script names 150 of the pages, among its functions, labels, comments and regular expressions, as
# router menus do. Prints wall and processor times (best of 5), requests and the ratio of the wall
# times deep/plain; then the same
# with the menu in one shared script file (<script src="menu.js">). Plain and deep crawls take turns,
# so that a machine busy with other work slows both alike.
# usage: bench/deep.sh BUILD_DIR
set -euo pipefail
build=${1:-build/bench}
cli=$(realpath "$build/bin/velmo-cli")
pages=2000
source "$(dirname "$0")/nginx.sh"

# The menu: a tree of 150 entries in folders, in the style of a router's index.js, padded with
# the code around such trees to 60 KiB.
python3 - "$work/menu.js" "$pages" <<'PY'
import random, sys
path, pages = sys.argv[1], int(sys.argv[2])
r = random.Random(16)
out = ["// Menu tree of the web interface", "var foldersTree, aux1, mode = isMode();",
       "function leafNode(name) { var a = new Array; a[0] = 0; a[1] = name; return a; }",
       "function generateDocEntry(icon, label, page, target) {",
       "    var s = '<a href=\"javascript:go(\\'' + page + '\\')\">' + label + '</a>';",
       "    return s.replace(/&/g, '&amp;').replace(/\"/g, '&quot;');", "}"]
entries = sorted(r.sample(range(1, pages), 150))
for block in range(0, len(entries), 10):
    out.append(f"if (mode != 'AP' && isModel() != 'WL{block}') {{")
    out.append(f"    aux1 = appendChild(foldersTree, leafNode(\"Folder {block // 10}\"));")
    for n in entries[block:block + 10]:
        out.append(f"    appendChild(aux1, generateDocEntry(0, \"Entry {n}\", \"p{n}.html\", \"\"));")
    out.append("}")
filler = ["function clickOnFolderLink(folderName) {",
          "    // Opens the first page of a folder; keep in step with the tree above.",
          "    if (folderName == \"Home\" && mode == 'Router') { top.folderFrame.location.reload(); }",
          "    var re = /^[A-Za-z0-9_]+$/; if (!re.test(folderName)) { return false; }",
          "    for (var i = 0; i < foldersTree.length; i++) { width = width / 2 + foldersTree[i][2]; }",
          "    document.getElementById('menu').className = (i % 2) ? 'odd' : 'even';",
          "}"]
text = "\n".join(out)
while len(text) < 60 * 1024:
    text += "\n" + "\n".join(filler)
open(path, "w").write(text[:60 * 1024])
PY

# Both sites: the links of crawl.sh (three each and one home), the menu inline or shared.
for site in inline shared; do
    mkdir -p "$work/$site"
    for ((i = 0; i < pages; i++)); do
        name=$([ $i -eq 0 ] && echo index.html || echo "p$i.html")
        {
            echo "<html><head><title>Page $i</title>"
            if [ $site = inline ]; then
                echo "<script type=\"text/javascript\">"; cat "$work/menu.js"; echo "</script>"
            else
                echo "<script type=\"text/javascript\" src=\"menu.js\"></script>"
            fi
            echo "</head><body><h1>Page $i</h1><p>"
            for next in $((i + 1)) $((i + 2)) $((i * 2)); do
                [ $next -lt $pages ] && [ $next -gt 0 ] && echo "<a href=\"p$next.html\">page $next</a>"
            done
            echo "<a href=\"/\">home</a></p>"
            [ $i -eq $((pages - 1)) ] && echo "<p>WAN 203.0.113.45</p>"
            echo "</body></html>"
        } > "$work/$site/$name"
    done
    cp "$work/menu.js" "$work/$site/menu.js"
done
printf 'admin:%s\n' "$(openssl passwd -apr1 secret)" > "$work/htpasswd"

declare -A ports=([inline]=$(free_port) [shared]=$(free_port))
start_nginx "
    access_log $work/access.log;
    auth_basic \"router\";
    auth_basic_user_file $work/htpasswd;
    server { listen 127.0.0.1:${ports[inline]}; root $work/inline; }
    server { listen 127.0.0.1:${ports[shared]}; root $work/shared; }"

# crawl SITE [--deep]: one crawl; prints its wall time and its processor time (user and system),
# which a busy machine disturbs less. The output stays in $work/out, the requests in access.log.
crawl() {
    clear_access_log
    local start end
    start=$(date +%s.%N)
    echo secret | /usr/bin/time -f '%U %S' -o "$work/time" "$cli" spider "127.0.0.1:${ports[$1]}" \
        --login admin --password-stdin --external-address 203.0.113.45 "${@:2}" > "$work/out"
    end=$(date +%s.%N)
    read -r user system < "$work/time"
    echo "$(echo "$end - $start" | bc) $(echo "$user + $system" | bc)"
}
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

printf 'crawl of %d pages with a 60 KiB menu script, best of 5 rounds (plain, then deep)\n' "$pages"
printf '  %-7s %12s %12s %12s %12s %10s %10s\n' menu "plain wall" "deep wall" "plain cpu" \
    "deep cpu" requests "deep/plain"
for site in inline shared; do
    pw='' dw='' pc='' dc=''
    for _ in 1 2 3 4 5; do
        read -r wall cpu < <(crawl $site)
        pw=$(min "$pw" "$wall") pc=$(min "$pc" "$cpu")
        plain_requests=$(wc -l < "$work/access.log")
        grep -q "Found: /p$((pages - 1)).html" "$work/out" || echo "warning: the plain crawl missed the page"
        read -r wall cpu < <(crawl $site --deep)
        dw=$(min "$dw" "$wall") dc=$(min "$dc" "$cpu")
        deep_requests=$(wc -l < "$work/access.log")
        grep -q "Found: /p$((pages - 1)).html" "$work/out" || echo "warning: the deep crawl missed the page"
    done
    printf '  %-7s %10.3f s %10.3f s %10.2f s %10.2f s %4d/%-5d %10.2f\n' "$site" "$pw" "$dw" "$pc" "$dc" \
        "$plain_requests" "$deep_requests" "$(echo "$dw / $pw" | bc -l)"
done
