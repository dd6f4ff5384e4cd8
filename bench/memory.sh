#!/usr/bin/env bash
# Peak memory (maximum resident set) and wall time of velmo-cli spider on sites built to make a
# crawl grow, served by a small Python server on loopback:
#   chain  80 pages of 15 MiB, each linking to the next
#   site   the 2,000 pages of crawl.sh (three links each and one home, 2 kB of text)
#   long   100,000 pages of 1 KiB in one chain, each linking to the next 20
#   deep-long     the same with --deep, the 20 pages named in a script instead of linked
#   deep-scripts  with --deep, a page loading 40 scripts of 8 MiB that name no page
#   deep-links    with --deep, a page loading 40 scripts of 8 MiB, each writing the same 200,000
#                 links (kept aside in case a link leads to the script)
# usage: bench/memory.sh BUILD_DIR [SITE...]
set -euo pipefail
build=${1:-build/bench}
shift || true
cli=$(realpath "$build/bin/velmo-cli")
sites=${*:-chain site long deep-long deep-scripts deep-links}
work=$(mktemp -d)
trap 'kill "$(cat "$work/server.pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$work"' EXIT

cat > "$work/server.py" <<'PY'
import http.server, socket, socketserver, sys

kind = sys.argv[1]
WAN = b"<p>WAN 203.0.113.45</p>"
# 8 MiB of script that names no page: code, strings, comments, regular expressions.
SCRIPT = (b"tree.add(\"Wireless\", 'node' + i, /[\"']+/g); // \"no names here\"\n"
          b"if (a / 2 > b) { s = s.replace(/&/g, '&amp;'); }\n") * 100000
SCRIPT = SCRIPT[:8 * 1024 * 1024]
# 8 MiB of script writing links without a page-like name, so that none is requested.
LINKS = b"".join(b"d.write('<a href=\"n%d\">%d</a>');\n" % (m, m) for m in range(200000))
LINKS = (LINKS * 2)[:8 * 1024 * 1024]

def page(n):
    """The body of page n, or None."""
    if kind in ("deep-scripts", "deep-links"):
        if n > 40:
            return None
        if n == 0:
            return b"".join(b'<script src="c%d.js"></script>' % m for m in range(1, 41))
        script = SCRIPT if kind == "deep-scripts" else LINKS
        return script[:-len(WAN)] + WAN if n == 40 else script
    if kind == "chain":
        if n > 80:
            return None
        body = b'<a href="c%d">next</a>' % (n + 1) if n < 80 else WAN
        return body + b"x" * (15 * 1024 * 1024 - len(body))
    if kind == "site":
        if n >= 2000:
            return None
        links = b"".join(b'<a href="c%d">page %d</a>' % (m, m)
                         for m in (n + 1, n + 2, n * 2) if 0 < m < 2000)
        return links + b'<a href="/">home</a>' + (WAN if n == 1999 else b"") + b"x" * 2000
    if n >= 100000:
        return None
    if kind == "deep-long":
        names = b", ".join(b"'c%d.htm'" % m for m in range(n + 1, min(n + 21, 100000)))
        links = b"<script>var next = [" + names + b"];</script>"
    else:
        links = b"".join(b'<a href="c%d">%d</a>' % (m, m) for m in range(n + 1, min(n + 21, 100000)))
    body = links + (WAN if n == 99999 else b"")
    return body + b"x" * max(0, 1024 - len(body))

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        super().setup()
        # Headers and body go out in two writes; without this each waits on a delayed ACK.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def do_GET(self):
        path = self.path.split(".")[0]
        n = 0 if path == "/" else int(path[2:]) if path.startswith("/c") else -1
        body = page(n) if n >= 0 else None
        self.send_response(200 if body is not None else 404)
        body = body if body is not None else b"not found"
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY

printf '%-12s %12s %10s %8s\n' site "peak KiB" seconds found
for site in $sites; do
    python3 "$work/server.py" "$site" > "$work/port" &
    echo $! > "$work/server.pid"
    for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
    port=$(cat "$work/port")
    deep=()
    [[ $site == deep-* ]] && deep=(--deep)
    /usr/bin/time -f '%M %e' -o "$work/time" \
        "$cli" spider "127.0.0.1:$port" --external-address 203.0.113.45 "${deep[@]}" > "$work/out" 2> /dev/null || true
    read -r peak seconds < "$work/time"
    printf '%-12s %12s %10s %8s\n' "$site" "$peak" "$seconds" "$(grep -c 'Found' "$work/out" || true)"
    kill "$(cat "$work/server.pid")"
    wait "$(cat "$work/server.pid")" 2>/dev/null || true
    : > "$work/port"
done
