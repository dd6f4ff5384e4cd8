#!/usr/bin/env bash
# The two Debian packages of one build, velmo-cli (no Qt) and velmo (the window), unpacked into
# temporary roots: exactly the files below, all listed by dpkg-deb -c, with the modes and owner of
# a Debian package whatever the builder's umask; velmo-cli runs, tells the package's version and
# has no test seams, nor velmo; binaries stripped, dependencies computed, each library once, velmo-cli's
# without Qt; one licence in the copyright files and the AppStream metadata; desktop entry and
# AppStream metadata validate; man pages render without warnings; lintian finds no error and no
# warning. Then, as root, both are installed and removed by dpkg in a copy of this machine (an
# overlay of its root in a mount namespace, with no display), and velmo-cli is installed and run
# once every Qt library is purged from that copy.
#   usage: tests/package/check.sh build/package/velmo-cli_VERSION_ARCH.deb \
#                                 build/package/velmo_VERSION_ARCH.deb     (tools/dev package)
set -euo pipefail
cli_deb=$(realpath "$1")
gui_deb=$(realpath "$2")
test_seams=$(realpath "$(dirname "$0")/../cli/test-seams.sh")

expected_cli=(
    usr/bin/velmo-cli
    usr/lib/systemd/user/velmo-poll@.service
    usr/share/bash-completion/completions/velmo-cli
    usr/share/doc/velmo-cli/README.md
    usr/share/doc/velmo-cli/changelog.gz
    usr/share/doc/velmo-cli/copyright
    usr/share/doc/velmo-cli/examples/velmo-poll.conf
    usr/share/fish/vendor_completions.d/velmo-cli.fish
    usr/share/man/man1/velmo-cli.1.gz
    usr/share/zsh/vendor-completions/_velmo-cli
)
expected_gui=(
    usr/bin/velmo
    usr/share/applications/velmo.desktop
    usr/share/doc/velmo/changelog.gz
    usr/share/doc/velmo/copyright
    usr/share/icons/hicolor/scalable/apps/velmo.svg
    usr/share/man/man1/velmo.1.gz
    usr/share/metainfo/example.velmo.Velmo.metainfo.xml
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

# Files and symbolic links, as dpkg-deb -c lists them and as they were unpacked.
listed() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort; }
unpacked() { (cd "$1" && find . ! -type d | sed 's|^\./||' | sort); }
# Folders 0755 and files 0644, programs in usr/bin 0755, all root's.
odd_modes() {
    dpkg-deb -c "$1" | awk '{ mode = $1; path = $6 }
        mode ~ /^d/ && mode == "drwxr-xr-x" && $2 == "root/root" { next }
        path ~ /^\.\/usr\/bin\// && mode == "-rwxr-xr-x" && $2 == "root/root" { next }
        path !~ /^\.\/usr\/bin\// && mode == "-rw-r--r--" && $2 == "root/root" { next }
        { print mode, $2, path }'
}
for package in cli gui; do
    deb_var=${package}_deb
    deb=${!deb_var}
    name=$(dpkg-deb -f "$deb" Package)
    declare -n expected="expected_$package"
    mkdir "$work/$package"
    dpkg-deb -x "$deb" "$work/$package"
    check "$name holds exactly the expected files" \
        diff <(printf '%s\n' "${expected[@]}" | sort) <(listed "$deb")
    check "$name: every unpacked file is listed by dpkg-deb -c" \
        diff <(listed "$deb") <(unpacked "$work/$package")
    check "$name: folders 0755, files 0644, programs 0755, all root's" odd_modes "$deb"
    unset -n expected
done
cd "$work/cli"

version=$(dpkg-deb -f "$cli_deb" Version)
version_line() {
    local line
    line=$("$1" --version)
    [ "$line" = "velmo-cli $version" ] || echo "velmo-cli --version says \"$line\" in package version $version"
}
check "velmo-cli --version runs from the unpacked root" version_line usr/bin/velmo-cli
# The options and the host table only tests use are not in the package's build.
check "velmo-cli has no test seams" bash "$test_seams" usr/bin/velmo-cli absent
window_seams() { grep -a -o -E -- '--test-[a-z-]+|VELMO_TEST_[A-Z_]+' ../gui/usr/bin/velmo | sort -u || true; }
check "velmo names no test seam" window_seams

not_stripped() { file usr/bin/velmo-cli ../gui/usr/bin/velmo | grep -v ', stripped$' || true; }
check "the binaries are stripped" not_stripped
# depends_lack DEB LIBRARY...: the libraries missing from DEB's Depends, and any named twice.
depends_lack() {
    local deb=$1 depends
    shift
    depends=$(dpkg-deb -f "$deb" Depends | sed 's/, /\n/g')
    for library in "$@"; do
        grep -q -x -F -e "$library" <<<"$depends" || grep -q -F -e "$library (" <<<"$depends" ||
            echo "Depends lacks $library: $depends"
    done
    awk '{ print $1 }' <<<"$depends" | sort | uniq -d | sed 's/^/Depends names twice: /'
}
cli_depends() {
    depends_lack "$cli_deb" libcurl4
    local fields
    fields=$(dpkg-deb -f "$cli_deb" Depends Recommends Suggests)
    [[ "$fields" == *"libcurl4 (>= 7.87)"* ]] || echo "Depends allows a libcurl before 7.87: $fields"
    grep -i -o -E '[a-z0-9-]*qt[a-z0-9-]*' <<<"$fields" | sed 's/^/velmo-cli needs /' || true
    LC_ALL=C ldd usr/bin/velmo-cli | grep -i -E 'qt|not found' | sed 's/^/velmo-cli links /' || true
}
check "velmo-cli's dependencies: computed, libcurl 7.87 once, no Qt" cli_depends
gui_depends() {
    # The window's SVG icon engine and image format are plugins, which dpkg-shlibdeps cannot see.
    depends_lack "$gui_deb" "velmo-cli (= $version)" libcurl4 libqt6widgets6 libqt6dbus6 \
        libqt6keychain1 libqt6svg6
}
check "velmo's dependencies: velmo-cli of its version, Qt, each once" gui_depends
one_licence() {
    local appstream
    appstream=$(sed -n 's|.*<project_license>\(.*\)</project_license>.*|\1|p' \
        ../gui/usr/share/metainfo/*.metainfo.xml)
    for copyright in usr/share/doc/velmo-cli/copyright ../gui/usr/share/doc/velmo/copyright; do
        grep -q -x "License: $appstream" "$copyright" ||
            echo "$copyright: $(grep '^License:' "$copyright"), AppStream: $appstream"
    done
}
check "the copyright files and the AppStream metadata name one licence" one_licence

check "desktop-file-validate passes without hints" \
    desktop-file-validate ../gui/usr/share/applications/velmo.desktop
appstream() {  # its notes on success are infos, not faults
    local output
    output=$(appstreamcli validate --no-net ../gui/usr/share/metainfo/*.metainfo.xml 2>&1) ||
        echo "$output"
}
check "appstreamcli validate --no-net passes" appstream

render() { zcat "$1" | groff -man -Tutf8 -ww -z; }
for page in usr/share/man/man1/*.1.gz ../gui/usr/share/man/man1/*.1.gz; do
    check "$(basename "$page") renders without warnings" render "$page"
done

# Every tag of an error or a warning fails; informational tags and overrides are not asked for.
lintian_clean() {
    lintian --fail-on none --suppress-tags-from-file /dev/null "$cli_deb" "$gui_deb" 2>&1 |
        grep -E '^[EW]: ' || true
}
check "lintian finds no error and no warning" lintian_clean

# Installs, runs and removes the packages with dpkg in a copy of this machine: an overlay of its
# root whose changes live in memory, in a mount namespace that ends with the check.
in_copy() {
    local copy
    copy=$(mktemp -d "$work/copy.XXXXXX")
    unshare --mount --propagation private sh -euc '
        copy=$1
        mount -t tmpfs tmpfs "$copy"
        mkdir "$copy/upper" "$copy/work" "$copy/root"
        mount -t overlay overlay -o "lowerdir=/,upperdir=$copy/upper,workdir=$copy/work" "$copy/root"
        mount -t proc proc "$copy/root/proc"
        mount --rbind /dev "$copy/root/dev"
        mount -t tmpfs tmpfs "$copy/root/tmp"
        cp "$2" "$copy/root/tmp/velmo-cli.deb"
        cp "$3" "$copy/root/tmp/velmo.deb"
        exec chroot "$copy/root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C sh -euc "$4" sh "$5"
    ' sh "$copy" "$cli_deb" "$gui_deb" "$1" "$version"
}
installed() {
    in_copy '
        dpkg -i /tmp/velmo-cli.deb /tmp/velmo.deb >/dev/null
        [ "$(velmo-cli --version)" = "velmo-cli $1" ] || echo "installed velmo-cli: $(velmo-cli --version)"
        [ -x /usr/bin/velmo ] || echo "velmo is not installed"
        dpkg -r velmo velmo-cli >/dev/null
        for path in /usr/bin/velmo /usr/bin/velmo-cli /usr/share/doc/velmo /usr/share/doc/velmo-cli \
                    /usr/lib/systemd/user/velmo-poll@.service; do
            [ ! -e "$path" ] || echo "$path is left after dpkg -r"
        done'
}
without_qt() {
    in_copy '
        dpkg-query -W -f "\${Package}\n" | grep qt6 | xargs dpkg --purge --force-depends >/dev/null 2>&1
        found=$(find / -xdev -name "libQt6*.so*" | head -3)
        [ -z "$found" ] || echo "Qt is still there: $found"
        dpkg -i /tmp/velmo-cli.deb >/dev/null
        [ "$(velmo-cli --version)" = "velmo-cli $1" ] || echo "velmo-cli without Qt: $(velmo-cli --version 2>&1)"
        ! dpkg -i /tmp/velmo.deb >/dev/null 2>&1 || echo "velmo installed without Qt"
        dpkg -r velmo velmo-cli >/dev/null'
}
if [ "$(id -u)" -eq 0 ] && grep -qw overlay /proc/filesystems; then
    check "both install and remove, with no display" installed
    check "velmo-cli installs and runs with every Qt library purged" without_qt
else
    echo "SKIP: installing in a copy of this machine needs root and overlayfs"
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
