#!/usr/bin/env bash
# The Debian package, unpacked into a temporary root: exactly the files below, all listed by
# dpkg-deb -c; velmo-cli runs and tells the package's version; neither program has test seams;
# binaries stripped, dependencies computed; desktop entry and AppStream metadata validate; man pages
# render without warnings; lintian finds no error and no warning.
#   usage: tests/package/check.sh build/package/velmo_VERSION_ARCH.deb   (tools/dev package)
set -euo pipefail
deb=$(realpath "$1")
test_seams=$(realpath "$(dirname "$0")/../cli/test-seams.sh")

expected=(
    usr/bin/velmo
    usr/bin/velmo-cli
    usr/lib/systemd/user/velmo-poll@.service
    usr/share/applications/velmo.desktop
    usr/share/bash-completion/completions/velmo-cli
    usr/share/doc/velmo/README.md
    usr/share/doc/velmo/changelog.gz
    usr/share/doc/velmo/copyright
    usr/share/doc/velmo/examples/velmo-poll.conf
    usr/share/fish/vendor_completions.d/velmo-cli.fish
    usr/share/icons/hicolor/scalable/apps/velmo.svg
    usr/share/man/man1/velmo-cli.1.gz
    usr/share/man/man1/velmo.1.gz
    usr/share/metainfo/example.velmo.Velmo.metainfo.xml
    usr/share/zsh/vendor-completions/_velmo-cli
)

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
passed=0
failed=0
# check NAME COMMAND...: passes when COMMAND succeeds and prints nothing.
check() {
    local name=$1 output
    shift
    if output=$("$@" 2>&1) && [ -z "$output" ]; then
        passed=$((passed + 1))
        echo "PASS: $name"
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
        [ -z "$output" ] || sed 's/^/    /' <<<"$output"
    fi
}

dpkg-deb -x "$deb" "$root"
cd "$root"

# Files and symbolic links, as dpkg-deb -c lists them and as they were unpacked.
listed() { dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort; }
unpacked() { find . ! -type d | sed 's|^\./||' | sort; }
check "the package holds exactly the expected files" \
    diff <(printf '%s\n' "${expected[@]}" | sort) <(listed)
check "every unpacked file is listed by dpkg-deb -c" diff <(listed) <(unpacked)

version=$(dpkg-deb -f "$deb" Version)
version_line() {
    local line
    line=$(usr/bin/velmo-cli --version)
    [ "$line" = "velmo-cli $version" ] || echo "velmo-cli --version says \"$line\" in package version $version"
}
check "velmo-cli --version runs from the unpacked root" version_line
# The options and the host table only tests use are not in the package's build.
check "velmo-cli has no test seams" bash "$test_seams" usr/bin/velmo-cli absent
window_seams() { grep -a -o -E -- '--test-[a-z-]+|VELMO_TEST_[A-Z_]+' usr/bin/velmo | sort -u || true; }
check "velmo names no test seam" window_seams

not_stripped() { file usr/bin/velmo usr/bin/velmo-cli | grep -v ', stripped$' || true; }
check "the binaries are stripped" not_stripped
missing_depends() {
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libcurl4 libqt6widgets6 libqt6dbus6 libqt6keychain1; do
        [[ "$depends" == *"$library "* ]] || echo "Depends lacks $library: $depends"
    done
    [[ "$depends" == *"libcurl4 (>= 7.87)"* ]] || echo "Depends allows a libcurl before 7.87: $depends"
    # The window's SVG icon engine and image format are plugins, which dpkg-shlibdeps cannot see.
    [[ "$depends" == *"libqt6svg6"* ]] || echo "Depends lacks libqt6svg6: $depends"
}
check "dpkg-shlibdeps computed the dependencies" missing_depends

check "desktop-file-validate passes without hints" \
    desktop-file-validate usr/share/applications/velmo.desktop
appstream() {  # its notes on success are infos, not faults
    local output
    output=$(appstreamcli validate --no-net usr/share/metainfo/*.metainfo.xml 2>&1) || echo "$output"
}
check "appstreamcli validate --no-net passes" appstream

render() { zcat "$1" | groff -man -Tutf8 -ww -z; }
for page in usr/share/man/man1/*.1.gz; do
    check "$(basename "$page") renders without warnings" render "$page"
done

# Every tag of an error or a warning fails; informational tags and overrides are not asked for.
lintian_clean() {
    lintian --fail-on none --suppress-tags-from-file /dev/null "$deb" 2>&1 | grep -E '^[EW]: ' || true
}
check "lintian finds no error and no warning" lintian_clean

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
