#!/usr/bin/env bash
# Crawls a generated site of 2,000 linked pages behind Basic authorization, served by nginx on
# loopback, with velmo-cli and with wget --spider, and fetches the same 2,001 URLs with curl as
# plain sequential GETs on one kept-alive connection, the floor of any crawl; prints wall times,
# their ratios and how many connections each opened.
# usage: bench/crawl.sh BUILD_DIR
set -euo pipefail
build=${1:-build/bench}
cli=$(realpath "$build/bin/velmo-cli")
pages=2000
source "$(dirname "$0")/nginx.sh"
make_linked_site "$pages"

port=$(free_port)
start_nginx "
    log_format conn '\$connection \$request_uri';
    access_log $work/access.log conn;
    server {
        listen 127.0.0.1:$port;
        root $work/site;
        auth_basic \"router\";
        auth_basic_user_file $work/htpasswd;
    }"

best() { sort -n | head -1; }
connections() { awk '{print $1}' "$work/access.log" | sort -u | wc -l; }
requests() { wc -l < "$work/access.log"; }

run_velmo() {
    echo secret | "$cli" spider "127.0.0.1:$port" --login admin --password-stdin \
        --external-address 203.0.113.45 > "$work/velmo.out"
}
run_curl() {
    curl -s -K "$work/curl.conf"
}
run_wget() {
    (cd "$work" && wget -q --spider -r -l inf --no-parent --auth-no-challenge \
        --user admin --password secret -e robots=off "http://127.0.0.1:$port/" || true)
}

measure() {
    local times=()
    for _ in 1 2 3; do
        clear_access_log
        local start end
        start=$(date +%s.%N)
        "$1"
        end=$(date +%s.%N)
        times+=("$(echo "$end - $start" | bc)")
    done
    printf '%s\n' "${times[@]}" | best
}

velmo_time=$(measure run_velmo)
velmo_connections=$(connections)
velmo_requests=$(requests)
awk '{printf "user = \"admin:secret\"\nurl = \"http://127.0.0.1:'"$port"'%s\"\noutput = \"/dev/null\"\n", $2}' \
    "$work/access.log" > "$work/curl.conf"
curl_time=$(measure run_curl)
curl_connections=$(connections)
curl_requests=$(requests)
grep -q "Found: /p$((pages - 1)).html" "$work/velmo.out" || echo "warning: velmo did not find the page"
wget_time=$(measure run_wget)
wget_connections=$(connections)
wget_requests=$(requests)

printf 'crawl of %d pages, best of 3\n' "$pages"
printf '  velmo-cli spider: %6.3f s, %d requests, %d connection(s)\n' "$velmo_time" "$velmo_requests" "$velmo_connections"
printf '  curl, same URLs:  %6.3f s, %d requests, %d connection(s)\n' "$curl_time" "$curl_requests" "$curl_connections"
printf '  wget --spider -r: %6.3f s, %d requests, %d connection(s)\n' "$wget_time" "$wget_requests" "$wget_connections"
printf '  ratio velmo/curl: %.2f\n' "$(echo "$velmo_time / $curl_time" | bc -l)"
printf '  ratio velmo/wget: %.2f\n' "$(echo "$velmo_time / $wget_time" | bc -l)"
