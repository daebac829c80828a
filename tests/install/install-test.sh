#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what lands there, then
# starts the installed program offscreen as a user who may not write beside
# it, ends it with SIGTERM and checks that it kept its settings in the
# user's configuration folder.
# Usage: install-test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

tmp=$(mktemp -d)
pid=
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  chmod -R u+w "$tmp" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
chmod 755 "$tmp"
prefix=$tmp/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

# Exactly the program, its desktop entry and its icons.
expected="bin/dorvasu
share/applications/dorvasu.desktop
share/icons/hicolor/256x256/apps/dorvasu.png
share/icons/hicolor/64x64/apps/dorvasu.png"
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ:
$actual"
[ -x "$prefix/bin/dorvasu" ] || fail "bin/dorvasu is not executable"

# Each icon is a PNG (signature, IHDR chunk) of the size its folder names.
for size in 64 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/dorvasu.png
  header=$(od -An -tx1 -N24 "$png" | tr -d ' \n')
  [ "$header" = "89504e470d0a1a0a0000000d49484452$(printf '%08x%08x' "$size" "$size")" ] \
    || fail "$png is not a ${size}x${size} PNG: $header"
done

# The desktop entry starts the installed program and names the installed icon.
desktop=$prefix/share/applications/dorvasu.desktop
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
else
  echo "desktop-file-validate not installed (package desktop-file-utils): skipped"
fi
grep -qx 'Exec=dorvasu' "$desktop" || fail "Exec is not the installed program"
grep -qx 'Icon=dorvasu' "$desktop" || fail "Icon is not the installed icon"

# Run as a user who cannot write beside the program: root may write anywhere,
# so root runs it as nobody; anyone else loses write permission on bin/.
chmod a-w "$prefix/bin"
home=$tmp/home
config=$home/.config
mkdir -p "$config/dorvasu"
# Stored settings are read from the configuration folder and, the window not
# having moved, written back unchanged at shutdown.
printf '[Position]\r\nTop=1500\r\nLeft=3000\r\n\r\n[Folder]\r\nMP3=/music/日本語\r\n' \
  > "$config/dorvasu/dorvasu.ini"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chown -R 65534:65534 "$home"
fi

HOME=$home XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=offscreen \
  "${as_user[@]}" "$prefix/bin/dorvasu" &
pid=$!

# SIGTERM is only handled once the program has installed its handler: wait
# for the kernel to show it caught (bit 15 of SigCgt).
for _ in $(seq 200); do
  caught=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$caught" ] && (( 0x$caught & (1 << 14) )) && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended on its own"
  sleep 0.1
done
(( 0x${caught:-0} & (1 << 14) )) || fail "the program never handled SIGTERM"
kill -TERM "$pid"

status=0
for _ in $(seq 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program did not end within 30 s of SIGTERM"
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || fail "the program ended with status $status after SIGTERM"

[ ! -e "$prefix/bin/dorvasu.ini" ] || fail "settings were written beside the program"
ini=$config/dorvasu/dorvasu.ini
want=$(printf '[Position]\r\nTop=1500\r\nLeft=3000\r\n\r\n[Folder]\r\nMP3=/music/日本語\r\n')
[ "$(cat "$ini")" = "$want" ] || fail "settings after shutdown:
$(cat -A "$ini")"
echo "installed program: files, desktop entry, icons, settings at shutdown: OK"
