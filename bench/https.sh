#!/usr/bin/env bash
# Crawls the 2,000-page site of crawl.sh over https and over plain http from the same nginx on
# loopback (one server block, two ports, an EC key and self-signed certificate made by openssl),
# with velmo-cli; prints wall times (best of 5, the two taking turns), requests and connections:
# the https crawl makes one handshake for the run.
# usage: bench/https.sh BUILD_DIR
set -euo pipefail
build=${1:-build/bench}
cli=$(realpath "$build/bin/velmo-cli")
pages=2000
source "$(dirname "$0")/nginx.sh"
make_linked_site "$pages"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 \
    -subj /CN=router.bench -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

plain=$(free_port)
tls=$(free_port)
start_nginx "
    log_format conn '\$server_port \$connection \$request_uri';
    access_log $work/access.log conn;
    server {
        listen 127.0.0.1:$plain;
        listen 127.0.0.1:$tls ssl;
        ssl_certificate $work/cert.pem;
        ssl_certificate_key $work/key.pem;
        root $work/site;
        auth_basic \"router\";
        auth_basic_user_file $work/htpasswd;
    }"

export XDG_CONFIG_HOME=$work/config  # the key trusted below, and nothing of the user's
spider() {
    echo secret | "$cli" spider "$1" --login admin --password-stdin \
        --external-address 203.0.113.45 "${@:2}" > "$work/velmo.out" 2> "$work/velmo.err"
}
spider "https://127.0.0.1:$tls" --trust-new-certificate || true  # trusted once, not measured
grep -q "remembered it" "$work/velmo.err" || { cat "$work/velmo.err"; exit 1; }

best() { sort -n | head -1; }
declare -A times=()
declare -A counts=()
for _ in 1 2 3 4 5; do
    for scheme in http https; do
        url=$([ $scheme = http ] && echo "127.0.0.1:$plain" || echo "https://127.0.0.1:$tls")
        clear_access_log
        start=$(date +%s.%N)
        spider "$url"
        end=$(date +%s.%N)
        times[$scheme]+="$(echo "$end - $start" | bc) "
        grep -q "Found: /p$((pages - 1)).html" "$work/velmo.out" || echo "warning: $scheme did not find the page"
        counts[$scheme]="$(wc -l < "$work/access.log") requests, $(awk '{print $2}' "$work/access.log" | sort -u | wc -l) connection(s)"
    done
done
http_time=$(tr ' ' '\n' <<<"${times[http]}" | grep . | best)
https_time=$(tr ' ' '\n' <<<"${times[https]}" | grep . | best)

printf 'crawl of %d pages from one nginx, best of 5\n' "$pages"
printf '  http:   %6.3f s, %s\n' "$http_time" "${counts[http]}"
printf '  https:  %6.3f s, %s\n' "$https_time" "${counts[https]}"
printf '  ratio https/http: %.2f\n' "$(echo "$https_time / $http_time" | bc -l)"
