# Sourced by the benchmarks that crawl a site served by nginx on loopback: a work folder removed at
# exit with the server, a free port, the server started with the caller's http {} lines and the
# access log emptied between two measured runs.
# usage: source bench/nginx.sh   (sets $work)
work=$(mktemp -d)
trap 'kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 755 "$work"

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# start_nginx LINES: nginx with LINES (log format, servers) inside http {}, once it has its pid.
start_nginx() {
    cat > "$work/nginx.conf" <<CONF
worker_processes 1;
daemon on;
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
    client_body_temp_path $work/body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    keepalive_requests 100000;
$1
}
CONF
    nginx -c "$work/nginx.conf" -p "$work"
    for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done
}

# make_linked_site PAGES: $work/site, PAGES pages of some 2 KB linking on to the next two and to
# twice their number, the last one showing 203.0.113.45, and $work/htpasswd for admin/secret.
make_linked_site() {
    local pages=$1 i next name
    mkdir -p "$work/site"
    for ((i = 0; i < pages; i++)); do
        name=$([ $i -eq 0 ] && echo index.html || echo "p$i.html")
        {
            echo "<html><head><title>Page $i</title></head><body><h1>Page $i</h1><p>"
            for next in $((i + 1)) $((i + 2)) $((i * 2)); do
                [ $next -lt $pages ] && [ $next -gt 0 ] && echo "<a href=\"p$next.html\">page $next</a>"
            done
            echo "<a href=\"/\">home</a></p>"
            [ $i -eq $((pages - 1)) ] && echo "<p>WAN 203.0.113.45</p>"
            head -c 2000 /dev/zero | tr '\0' 'x'
            echo "</body></html>"
        } > "$work/site/$name"
    done
    printf 'admin:%s\n' "$(openssl passwd -apr1 secret)" > "$work/htpasswd"
}

# Empties the access log before a measured run.
clear_access_log() {
    : > "$work/access.log"
    kill -USR1 "$(cat "$work/nginx.pid")"  # reopen the log
    sleep 0.2
}
