#!/usr/bin/env bash
# Checks the Debian package the way Debian and a desktop would: its exact file
# list, the launcher entry and AppStream data, lintian, the run paths of every
# program, and, unpacked into a throw-away root, that the program there renders
# a frame, draws its preview picture and computes its own fingerprint over the
# files as installed.
#   check-package.sh BUILD-DIR SOURCE-DIR FINGERPRINT-PROBE SAMPLE-ISSUE-GENERATOR
set -euo pipefail
build=$1 source=$2 probe=$3 sample=$4
deb=$(find "$build/package" -maxdepth 1 -name 'quillo_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "no package in $build/package" >&2; exit 1; }
work=$(mktemp -d /tmp/quillo-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Exactly the shipped files: no build-tree leftovers, tests, static libraries.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./||' | grep -v '/$' | LC_ALL=C sort >"$work/files"
diff -u "$source/tests/packaging/expected-files" "$work/files" || fail "file list"

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/news.quillo.QuilloBar.desktop" ||
    fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/news.quillo.QuilloBar.metainfo.xml" \
    >"$work/appstream" 2>&1 || { cat "$work/appstream"; fail "AppStream data"; }
lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
if grep -q '^E:' "$work/lintian"; then
    grep '^E:' "$work/lintian" >&2
    fail "lintian errors"
fi

# A run path may only lead from a program's own folder into lib/quillo.
for file in "$root"/usr/bin/* "$root"/usr/lib/quillo/* "$root"/usr/libexec/quillo/*; do
    paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p')
    case "$paths" in
    "" | '$ORIGIN' | '$ORIGIN/../lib/quillo' | '$ORIGIN/../../lib/quillo') ;;
    *) fail "run path of ${file#"$root"}: $paths" ;;
    esac
done

# The unpacked tree works where it lies.
"$sample" "$work/issue.pdf" 2
printf '{"pdf":"%s","output":"%s","model":"x"}' "$work/issue.pdf" "$work/frame.png" |
    "$root/usr/bin/quillo-bar" --render-display-stdin >/dev/null || fail "render mode"
file "$work/frame.png" | grep -q 'PNG image data, 1872 x 1404, 1-bit grayscale' ||
    fail "frame: $(file -b "$work/frame.png")"
mkdir -p "$work/home"
env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
    HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    "$root/usr/bin/quillo-bar" --preview-settings --snapshot "$work/snapshot.png" ||
    fail "preview snapshot"
file "$work/snapshot.png" | grep -Eq 'PNG image data, 480 x [0-9]+,' ||
    fail "snapshot: $(file -b "$work/snapshot.png")"

# The fingerprint covers the files as built and as installed: the manifest
# names, in order, every shipped file of lib/, libexec/ and share/quillo but
# itself (the build tree's would otherwise change with each build), and the
# fingerprint hashes the executable before it.
sed -nE 's#^usr/((lib|libexec|share)/quillo/)#\1#p' "$source/tests/packaging/expected-files" |
    grep -vx 'share/quillo/build-manifest' >"$work/manifest-paths"
for tree in "$build" "$root/usr"; do
    sed 's/^[0-9a-f]\{64\}  //' "$tree/share/quillo/build-manifest" |
        diff -u "$work/manifest-paths" - || fail "build manifest paths in $tree"
done
(cd "$root/usr" && sha256sum --quiet -c share/quillo/build-manifest) || fail "build manifest"
expected=$(cat "$root/usr/bin/quillo-bar" "$root/usr/share/quillo/build-manifest" | sha256sum | cut -d' ' -f1)
[ "$("$probe" "$root/usr")" = "$expected" ] || fail "fingerprint"

[ "$failures" -eq 0 ] || exit 1
echo "package $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, installed $(du -sk "$root/usr" | cut -f1) KiB"
