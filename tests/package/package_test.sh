#!/usr/bin/env bash
# Builds the Debian package from a built tree, checks what it holds and what it depends on, and
# runs salvora-cli from the package unpacked into a scratch root. Where the Debian tools are
# missing it says so on one line and is skipped (status 77).
#
#   tests/package/package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
for tool in dpkg-deb dpkg-shlibdeps file cpack; do
  if ! command -v "$tool" >/dev/null; then
    echo "package test skipped: $tool is not installed (apt install dpkg-dev file)"
    exit 77
  fi
done

build=$(realpath "$1")
source=$(realpath "$2")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/salvora-package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Into the scratch folder, so that a `make package` at the same time is not disturbed.
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; exit 1; }
debs=("$scratch"/out/salvora_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { fail "expected one salvora_*.deb, got: ${debs[*]}"; exit 1; }
deb=${debs[0]}
version=$(sed -n 's/^project(salvora VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
[[ $(basename "$deb") == salvora_${version}_*.deb ]] || fail "package name $(basename "$deb") lacks version $version"

# --- the file list: everything expected is there, nothing else is
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$scratch/files"
expected=(
  /usr/bin/salvora /usr/bin/salvora-cli
  /usr/share/applications/salvora.desktop
  /usr/share/mime/packages/salvora.xml
  /usr/share/metainfo/salvora.metainfo.xml
  /usr/share/man/man1/salvora.1.gz /usr/share/man/man1/salvora-cli.1.gz
  /usr/share/bash-completion/completions/salvora-cli
  /usr/share/doc/salvora/copyright /usr/share/doc/salvora/changelog.gz
  /usr/share/salvora/resources/progress.html
  /usr/share/salvora/resources/help/index.html
  /usr/share/salvora/resources/help/command-line.html
  /usr/share/salvora/resources/icons/inbox.png
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/salvora.png")
done
for f in "${expected[@]}"; do
  grep -qxF "$f" "$scratch/files" || fail "package lacks $f"
done
allowed='^/usr/(bin/salvora(-cli)?|share/(applications|mime/packages|metainfo|man/man1|bash-completion/completions|doc/salvora|salvora/resources|icons/hicolor/[0-9]+x[0-9]+/apps)/[^ ]+)$'
unexpected=$(grep -Ev "$allowed" "$scratch/files" || true)
[ -z "$unexpected" ] || fail "package holds files outside the install tree: $unexpected"
owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
[ "$owners" = "root/root" ] || fail "files not owned by root: $owners"

# `make install` puts the same tree under its prefix.
DESTDIR=$scratch/staged cmake --install "$build" --prefix /usr >/dev/null
(cd "$scratch/staged" && find . -type f -o -type l) | sed 's|^\./|/|' | sort >"$scratch/installed"
diff "$scratch/files" "$scratch/installed" >"$scratch/install.diff" ||
  fail "make install and the package differ: $(cat "$scratch/install.diff")"

# --- the control fields: runtime libraries only
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 zlib1g libqt6widgets6 libqt6gui6 libqt6core6; do
  [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "Depends lacks $lib: $depends"
done
[[ $depends != *-dev* ]] || fail "Depends names a development package: $depends"
[ "$(dpkg-deb -f "$deb" Package)" = salvora ] || fail "package name is not salvora"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"
for f in Maintainer Description Section Architecture; do
  [ -n "$(dpkg-deb -f "$deb" "$f")" ] || fail "control field $f is empty"
done
# The dates and versions written beside the package follow the program's.
zcat <(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/salvora/changelog.gz) | head -1 |
  grep -qF "salvora ($version)" || fail "changelog's newest entry is not $version"

# --- run from a scratch root
root=$scratch/root
dpkg-deb -x "$deb" "$root"
grep -qF "<release version=\"$version\"" "$root/usr/share/metainfo/salvora.metainfo.xml" ||
  fail "metainfo's releases lack $version"
missing=$(ldd "$root/usr/bin/salvora" "$root/usr/bin/salvora-cli" | grep 'not found' || true)
[ -z "$missing" ] || fail "libraries not found: $missing"
got=$("$root/usr/bin/salvora-cli" --version)
[ "$got" = "salvora-cli $version" ] || fail "--version printed '$got'"
status=0
HOME=$scratch XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state \
  "$root/usr/bin/salvora-cli" convert "$source/samples/sample.ost" --dest "$scratch/pst" >"$scratch/convert.out" 2>&1 || status=$?
if [ $status -ne 0 ]; then
  fail "convert from the package exited $status"; cat "$scratch/convert.out"
fi
pst=$(sed -n 's/^pst=//p' "$scratch/convert.out")
[ -n "$pst" ] && [ -s "$pst" ] || fail "convert wrote no PST: $(cat "$scratch/convert.out")"
if [ -n "$pst" ] && [ -f "$pst" ]; then
  "$root/usr/bin/salvora-cli" verify "$pst" 2>"$scratch/verify.err" || fail "the PST does not verify: $(tail -3 "$scratch/verify.err")"
fi

# --- the validators, each where installed: errors fail, warnings are shown
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$root/usr/share/applications/salvora.desktop" 2>&1 || true)
  [[ $out != *error:* ]] || fail "desktop-file-validate: $out"
  [ -z "$out" ] || echo "desktop-file-validate: $out"
else
  echo "desktop-file-validate not installed: the desktop entry is not validated"
fi
if command -v appstreamcli >/dev/null; then
  # It fails on warnings too; only its errors fail here.
  appstreamcli validate --no-net "$root/usr/share/metainfo/salvora.metainfo.xml" >"$scratch/as.out" 2>&1 || true
  grep '^E:' "$scratch/as.out" && fail "appstreamcli validate reports errors"
  grep '^W:' "$scratch/as.out" || true
else
  echo "appstreamcli not installed: the metainfo is not validated"
fi
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$scratch/lintian.out" 2>&1 || true
  grep '^E:' "$scratch/lintian.out" && fail "lintian reports errors"
  grep '^W:' "$scratch/lintian.out" || true
else
  echo "lintian not installed: the package is not linted"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package $(basename "$deb"): $(wc -l <"$scratch/files") files, checks passed"
