#!/usr/bin/env bash
# Builds the package from the build tree given, checks what it holds, and runs the unpacked
# velmarpay-cli as a new user would on a fresh installation. Nothing is installed on the machine.
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack"
}
debs=("$work"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package, got: ${debs[*]}"
deb=${debs[0]}

# Exactly these files, nothing from the tests or benchmarks.
expected="./usr/bin/velmarpay
./usr/bin/velmarpay-cli
./usr/share/applications/velmarpay.desktop
./usr/share/bash-completion/completions/velmarpay-cli
./usr/share/doc/velmarpay/README.md
./usr/share/doc/velmarpay/changelog.gz
./usr/share/doc/velmarpay/copyright
./usr/share/doc/velmarpay/examples/sample.pay
./usr/share/doc/velmarpay/examples/velmarpay.ini
./usr/share/doc/velmarpay/settings.md
./usr/share/icons/hicolor/256x256/apps/velmarpay.png
./usr/share/icons/hicolor/scalable/apps/velmarpay.svg
./usr/share/man/man1/velmarpay-cli.1.gz
./usr/share/man/man1/velmarpay.1.gz
./usr/share/metainfo/example.velmarsoftware.velmarpay.metainfo.xml
./usr/share/mime/packages/velmarpay.xml"
files=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ {print $6}' | sort)
[ "$files" = "$expected" ] || fail "package contents differ:"$'\n'"$files"

# As Debian's own packages: no lintian error or warning (run as root it says so; that is no tag).
lintian --fail-on error,warning --no-tag-display-limit "$deb" >"$work/lintian" 2>&1 ||
  fail "lintian: $(cat "$work/lintian")"

# The fonts, the database driver and the certificate store by name, the Qt libraries (the network
# one with its TLS backend) found by dpkg-shlibdeps.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for dep in fonts-liberation2 libqt6sql6-sqlite ca-certificates libqt6widgets6 libqt6printsupport6 libqt6network6; do
  grep -qx "$dep" <<<"$depends" || fail "Depends lacks $dep: $(dpkg-deb -f "$deb" Depends)"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin

# The version is the one the about box shows: the file version compiled into the program.
version=$(grep -a -o 'StringFileInfo\\[0-9A-F]\{8\}\\FileVersion=[0-9.]*' "$bin/velmarpay" | head -1 | sed 's/.*=//')
[ -n "$version" ] || fail "no version information in velmarpay"
[ "$(basename "$deb")" = "velmarpay_${version}_$(dpkg --print-architecture).deb" ] || fail "package name $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), about box $version"

# The manual pages are help2man's reading of each program's --help: a failed run would leave them
# without the commands and options.
for program in velmarpay velmarpay-cli; do
  page=$(zcat "$root/usr/share/man/man1/$program.1.gz")
  grep -q '^\.SH OPTIONS' <<<"$page" || fail "$program.1 has no options"
  grep -q -- '--version' <<<"$page" || fail "$program.1 lacks --version"
done
zgrep -qF 'print\-all' "$root/usr/share/man/man1/velmarpay-cli.1.gz" || fail "velmarpay-cli.1 lacks the commands"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream" 2>&1 ||
  fail "metainfo: $(cat "$work/appstream")"
# Pay files open with the program: the desktop entry takes the type the MIME package defines.
mime=$(sed -n 's/.*mime-type type="\([^"]*\)".*/\1/p' "$root/usr/share/mime/packages/velmarpay.xml")
grep -q 'glob pattern="\*\.pay"' "$root/usr/share/mime/packages/velmarpay.xml" || fail "no *.pay glob"
grep -qx "MimeType=$mime;" "$root/usr/share/applications/velmarpay.desktop" || fail "desktop entry lacks $mime"
bash -n "$root/usr/share/bash-completion/completions/velmarpay-cli" || fail "bash completion"

entry=$root/usr/share/applications/velmarpay.desktop
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qx 'Categories=Office;Finance;' "$entry" || fail "desktop entry categories"
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$bin/$program" ] || fail "desktop entry starts $program, which the package does not hold"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no SVG icon named $icon"
# The rendered icon: PNG signature, then the IHDR width and height as big-endian 32-bit numbers.
png=$root/usr/share/icons/hicolor/256x256/apps/$icon.png
[ "$(od -An -tx1 -N24 "$png" | tr -d ' \n')" = 89504e470d0a1a0a0000000d494844520000010000000100 ] ||
  fail "$png is no 256x256 PNG"
! ldd "$bin/velmarpay" | grep 'not found' || fail "velmarpay needs libraries the system lacks"

# A new user on a fresh installation: HOME and the XDG folders are empty temporary ones.
[ ! -e /etc/velmarpay/velmarpay.ini ] || fail "this machine has /etc/velmarpay/velmarpay.ini; the run would use it"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
mkdir -p "$HOME"
cli=$bin/velmarpay-cli
[ "$("$cli" --version)" = "velmarpay-cli $version" ] || fail "--version printed: $("$cli" --version)"

db=$XDG_DATA_HOME/velmarpay/velmarpay.mdb
ini=$XDG_CONFIG_HOME/velmarpay/velmarpay.ini
if "$cli" datasets >"$work/out" 2>"$work/err"; then fail "datasets worked without a database"; fi
grep -qF "No database found at $db." "$work/err" || fail "first start did not say where it looked: $(cat "$work/err")"
grep -qF '"velmarpay-cli init-db" creates it there.' "$work/err" || fail "first start did not say how: $(cat "$work/err")"

[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/velmarpay" --version)" = "velmarpay $version" ] ||
  fail "velmarpay --version needs a display"
# Pay data for its owner only, whatever the umask.
(umask 022 && "$cli" init-db >"$work/out") || fail "init-db"
[ -f "$db" ] || fail "init-db did not create $db: $(cat "$work/out")"
modes=$(stat -c '%a %n' "$(dirname "$db")" "$db" "$(dirname "$ini")" "$ini" | sed "s|$work/||")
[ "$modes" = "700 data/velmarpay
600 data/velmarpay/velmarpay.mdb
700 config/velmarpay
600 config/velmarpay/velmarpay.ini" ] || fail "init-db made files others can read: $modes"
cmp -s "$ini" "$root/usr/share/doc/velmarpay/examples/velmarpay.ini" || fail "init-db did not write the sample settings to $ini"
# Without settings the defaults would store every "999" doctor's rate for good: said before and after.
mv "$ini" "$work/settings.kept"
"$cli" import "$root/usr/share/doc/velmarpay/examples/sample.pay" >"$work/out" 2>"$work/err" || fail "import"
grep -qF 'No settings file found (looked for ' "$work/err" || fail "no word on the missing settings: $(cat "$work/err")"
grep -qF '; doctors of rate 999 stored at 0.00%' "$work/out" || fail "no rate named: $(cat "$work/out")"
mv "$work/settings.kept" "$ini"
imported=$("$cli" import --overwrite "$root/usr/share/doc/velmarpay/examples/sample.pay") || fail "import"
[[ $imported == "Imported 02_2005 "*": 12 doctors"* ]] || fail "import printed: $imported"
[ "$("$cli" doctors | wc -l)" -eq 12 ] || fail "the imported doctors are not in $db"
[ "$(ls "$bin")" = "velmarpay"$'\n'"velmarpay-cli" ] || fail "something was written beside the programs: $(ls "$bin")"

echo "package $(basename "$deb") checked"
