#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there, then
# runs the installed program offscreen as a user who may not write beside it,
# ends it with SIGTERM and checks its settings in the user's config folder.
# Usage: install-test.sh CMAKE BUILD_DIR
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp=$(mktemp -d)
pid=
trap '[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null; chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
prefix=$tmp/prefix
"$1" --install "$2" --prefix "$prefix" >/dev/null

icons=share/icons/hicolor
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$actual" = "bin/dorvasu bin/dorvasu-cli share/applications/dorvasu.desktop $icons/256x256/apps/dorvasu.png $icons/64x64/apps/dorvasu.png " ] \
  || fail "installed files differ: $actual"
for size in 64 256; do   # a PNG (signature, IHDR chunk) of the size its folder names
  header=$(od -An -tx1 -N24 "$prefix/$icons/${size}x$size/apps/dorvasu.png" | tr -d ' \n')
  [ "$header" = "89504e470d0a1a0a0000000d49484452$(printf '%08x%08x' $size $size)" ] || fail "icon $size: $header"
done
desktop=$prefix/share/applications/dorvasu.desktop
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
fi
grep -qx 'Exec=dorvasu' "$desktop" && grep -qx 'Icon=dorvasu' "$desktop" || fail "Exec or Icon is not the installed one"

# Root may write anywhere, so root runs it as nobody; others lose write permission on bin/.
chmod a-w "$prefix/bin"
config=$tmp/home/.config
mkdir -p "$config/dorvasu"
ini=$config/dorvasu/dorvasu.ini
printf '[Position]\r\nTop=1500\r\nLeft=3000\r\n\r\n[Folder]\r\nMP3=/music/日本語\r\n' > "$ini"
want=$(cat "$ini")
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chown -R 65534:65534 "$tmp/home"
fi
HOME=$tmp/home XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=offscreen "${as_user[@]}" "$prefix/bin/dorvasu" &
pid=$!
for _ in $(seq 200); do   # until the kernel shows SIGTERM caught (bit 15 of SigCgt)
  caught=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$caught" ] && (( 0x$caught & (1 << 14) )) && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended on its own"
  sleep 0.1
done
kill -TERM "$pid"
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end within 30 s of SIGTERM"
wait "$pid" || fail "the program ended with status $? after SIGTERM"
pid=
[ ! -e "$prefix/bin/dorvasu.ini" ] || fail "settings were written beside the program"
# Read from the config folder and, the window not having moved, written back unchanged.
[ "$(cat "$ini")" = "$want" ] || fail "settings after shutdown: $(cat -A "$ini")"
echo "installed program: files, desktop entry, icons, settings at shutdown: OK"
