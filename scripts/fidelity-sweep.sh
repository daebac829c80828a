#!/usr/bin/env bash
# Fidelity sweep: tags MP3 files with the tag tools people use (mutagen's
# mid3v2 and its Python module, eyeD3, id3v2, kid3-cli, id3tool), then, for
# every file:
#   read   - `dorvasu-cli show --json` shows what mutagen reads from the bytes;
#   write  - `dorvasu-cli set --album X` changes the album and nothing else:
#            every other ID3v2 frame keeps its bytes, the ID3v1 tag keeps
#            every byte but the album's, APE items keep their bytes, the
#            audio is untouched, and every field still reads as before;
#   same   - `dorvasu-cli set` with the values the file already shows leaves
#            the file byte-identical.
# Usage: scripts/fidelity-sweep.sh [BUILD_DIR]   (default: build)
# Needs (Debian): python3-mutagen eyed3 id3v2 kid3-cli id3tool.
# Exit status 0 when every check passes.
#
# What the tool shows by design, and the comparison allows for:
# - every field is trimmed (blank and ideographic space) and cut to 30
#   characters, the year to 4 (the edit boxes' widths);
# - the year is TDRC, else TYER, else TDRL; TDOR and TORY never are;
# - the comment is the first COMM without a description (iTunNORM and the
#   like never are);
# - the genre is its name: "(17)" and "17" show as "Rock", a name outside
#   the genre list shows as typed;
# - a text frame with several values (ID3v2.4's NUL-separated list) shows
#   them joined by a blank, as TagLib joins them;
# - ID3v2 first, then APE, then ID3v1, field by field;
# - text declared Latin-1 (ID3v1, and ID3v2 frames with encoding 0) is
#   legacy text: UTF-8 when it is valid UTF-8, else CP932 when the tag's
#   legacy text reads as Japanese, else Windows-1252. mutagen reads such
#   frames as Latin-1, so the expected text goes through the same rule;
# - an ID3v1 tag whose text is UTF-8 is written in one code page as a whole
#   (CP932, else Windows-1252), so an edit of one field changes the others'
#   bytes, not their text;
# - a file without ID3v2 gets a new ID3v2.3 tag holding every field on a
#   write, and a file without ID3v1 may get one: neither is a loss.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cli=$(realpath "$build/src/cli/dorvasu-cli")
[ -x "$cli" ] || { echo "no dorvasu-cli in $build" >&2; exit 2; }
for t in mid3v2 eyeD3 id3v2 kid3-cli id3tool; do
  command -v "$t" >/dev/null || { echo "missing tool: $t" >&2; exit 2; }
done
py=/usr/bin/python3   # Debian's Python, where python3-mutagen lives
sample=$(realpath tests/data/stereo-mpeg1.mp3)
work=$(mktemp -d)
[ -n "${SWEEP_KEEP:-}" ] && echo "files kept in $work" >&2 || trap 'rm -rf "$work"' EXIT
cd "$work"

# A small valid PNG for the covers, and a lyrics file.
"$py" - <<'EOF'
import struct, zlib
def chunk(t, d):
    return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
raw = b"".join(b"\0" + bytes([x * 16 % 256, 80, 200]) * 16 for x in range(16))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
open("cover.png", "wb").write(png)
open("lyrics.txt", "w").write("First line\nSecond line 二行目\n")
EOF

# new TOOL CASE: a fresh copy of the sample, named after the tool and case;
# prints its path.
new() { local f="$1--$2.mp3"; cp "$sample" "$f"; echo "$f"; }
q() { "$@" >/dev/null 2>&1 || echo "tool failed: $*" >&2; }
long_album="Friday Night Lights [Original Movie Soundtrack]"
long_title="A Title That Is Longer Than Thirty Characters"

# --- mid3v2 (mutagen's command line; writes ID3v2.4) ---
f=$(new mid3v2 v2.4-basic); q mid3v2 -t Title -a Artist -A Album -y 2004 -c "A comment" -g Rock -T 3/12 "$f"
f=$(new mid3v2 v2.4-long-fields); q mid3v2 -t "$long_title" -A "$long_album" -y 2004-05-06 -a "Artist" "$f"
f=$(new mid3v2 custom-genre); q mid3v2 -t T -a A -g "My Own Genre" "$f"
f=$(new mid3v2 genre-number); q mid3v2 -t T -a A -g "(17)" "$f"
f=$(new mid3v2 japanese-utf8); q mid3v2 -t "日本語のタイトル" -a "歌手" -A "アルバム" -c "コメント" "$f"
f=$(new mid3v2 comm-several); q mid3v2 -t T -c "Plain" -c "iTunNORM: 00000150 000001A0:eng" -c "Other:x:deu" -c ":Deutsch:deu" "$f"
f=$(new mid3v2 two-genres); q mid3v2 -t T -g "Rock" --TCON "Pop" "$f"
"$py" -c 'import os; open("big.png", "wb").write(open("cover.png", "rb").read() + os.urandom(300000))'
f=$(new mid3v2 big-cover); q mid3v2 -t T -a A -A Al -p "big.png:Cover:3:image/png" "$f"
f=$(new mid3v2 tdor-and-frames); q mid3v2 -t T -a A -y 2001 --TDOR 1970-05 -p "cover.png:Cover:3:image/png" --TXXX "REPLAYGAIN_TRACK_GAIN:-3.20 dB" "$f"

# --- mutagen from Python: ID3v2.3, ID3v2.4, both tags, CP932, APE ---
"$py" - "$sample" <<'EOF'
import shutil, sys
from mutagen.id3 import (ID3, TIT2, TPE1, TALB, TYER, TDRC, TORY, TDOR, TCON, COMM, APIC, USLT, TRCK,
                         TXXX, POPM, PRIV, TDRL)
from mutagen.apev2 import APEv2
sample = sys.argv[1]
def make(case, frames, version=4, v1=0):
    path = f"mutagen--{case}.mp3"
    shutil.copy(sample, path)
    t = ID3()
    for fr in frames:
        t.add(fr)
    t.save(path, v2_version=version, v1=v1, v23_sep="/")
    return path
cover = open("cover.png", "rb").read()
basic = [TIT2(encoding=3, text="Title"), TPE1(encoding=3, text="Artist"), TALB(encoding=3, text="Album"),
         TCON(encoding=3, text="Rock"), COMM(encoding=3, lang="eng", desc="", text="A comment")]
extras = [APIC(encoding=0, mime="image/png", type=3, desc="Cover", data=cover),
          USLT(encoding=1, lang="eng", desc="", text="First line\nSecond line"),
          TRCK(encoding=0, text="3/12"), TXXX(encoding=0, desc="REPLAYGAIN_TRACK_GAIN", text="-3.20 dB"),
          POPM(email="someone@example.org", rating=196, count=7), PRIV(owner="WM/MediaClassPrimaryID", data=b"\x01\x02\0\xff"),
          COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000150 000001A0 00000A1C"),
          COMM(encoding=1, lang="jpn", desc="", text="日本語のコメント")]
make("v2.3-every-frame", basic + [TYER(encoding=0, text="2004")] + extras, 3)
make("v2.4-every-frame", basic + [TDRC(encoding=3, text="2004-05-06")] + extras, 4)
make("v2.3-both-tags", basic + [TYER(encoding=0, text="1999")], 3, v1=2)
make("v2.4-both-tags", basic + [TDRC(encoding=3, text="1999")], 4, v1=2)
make("v2.3-utf16-japanese", [TIT2(encoding=1, text="日本語のタイトル"), TPE1(encoding=1, text="歌手"),
     TALB(encoding=1, text="アルバム"), COMM(encoding=1, lang="jpn", desc="", text="コメント")], 3)
make("v2.3-multiple-artists", [TIT2(encoding=0, text="T"), TPE1(encoding=0, text=["One", "Two"])], 3)
make("v2.4-multiple-artists", [TIT2(encoding=3, text="T"), TPE1(encoding=3, text=["One", "Two"])], 4)
make("v2.3-tory", [TIT2(encoding=0, text="T"), TYER(encoding=0, text="2001"), TORY(encoding=0, text="1970")], 3)
make("v2.4-tdor-only", [TIT2(encoding=3, text="T"), TDOR(encoding=3, text="1970")], 4)
make("v2.4-tdrl-only", [TIT2(encoding=3, text="T"), TDRL(encoding=3, text="1999-02")], 4)
make("v2.4-long-cut-at-blank", [TIT2(encoding=3, text="Friday Night Lights [Original Movie Soundtrack]"),
     TALB(encoding=3, text="Friday Night Lights [Original Movie Soundtrack]"), TPE1(encoding=3, text="A")], 4)
# Latin-1 frames holding CP932 bytes, as old Japanese Windows taggers wrote.
def cp932(s):
    return s.encode("cp932").decode("latin-1")
make("v2.3-latin1-cp932", [TIT2(encoding=0, text=cp932("日本語のタイトル")), TPE1(encoding=0, text=cp932("歌手")),
     TALB(encoding=0, text=cp932("アルバム")), COMM(encoding=0, lang="jpn", desc="", text=cp932("コメント"))], 3)
# Latin-1 text that is Western, not half-width katakana; a full date that
# mutagen writes to ID3v2.3 as TYER and TDAT.
make("v2.3-latin1-western", [TIT2(encoding=0, text="Bark At The \xc8\xc9\xca\xcb"),
     TPE1(encoding=0, text="\xb7" * 7), TALB(encoding=0, text="Caf\xe9")], 3)
make("v2.3-western-both-tags", [TIT2(encoding=0, text="Caf\xe9 del Mar"), TPE1(encoding=0, text="Bj\xf6rk"),
     TALB(encoding=0, text="Album")], 3, v1=2)
make("v2.3-genre-number-and-name", [TIT2(encoding=0, text="T"), TCON(encoding=0, text="(17)Rock")], 3)
make("v2.4-two-genres", [TIT2(encoding=3, text="T"), TCON(encoding=3, text=["Jazz", "Funk"])], 4)
make("v2.3-full-date", [TIT2(encoding=0, text="T"), TDRC(encoding=0, text="2004-05-06")], 3)
# APE tags: alone, beside ID3v2, beside ID3v1.
def ape(case, items, id3=None, v1=0):
    path = f"mutagen--{case}.mp3"
    shutil.copy(sample, path)
    if id3:
        t = ID3()
        for fr in id3:
            t.add(fr)
        t.save(path, v2_version=3, v1=v1)
    a = APEv2()
    for k, v in items.items():
        a[k] = v
    a.save(path)
ape_items = {"Title": "Ape Title", "Artist": "Ape Artist", "Album": "Ape Album", "Year": "1998",
             "Comment": "Ape comment", "Genre": "Jazz", "REPLAYGAIN_TRACK_GAIN": "-3.20 dB", "Track": "4"}
ape("ape-only", ape_items)
ape("ape-and-id3v2.3", ape_items, [TIT2(encoding=0, text="Ape Title"), TPE1(encoding=0, text="Ape Artist")])
ape("ape-and-id3v1", ape_items, [TIT2(encoding=0, text="Ape Title"), TPE1(encoding=0, text="Ape Artist"),
    TALB(encoding=0, text="Ape Album"), TYER(encoding=0, text="1998"), TCON(encoding=0, text="Jazz"),
    COMM(encoding=0, lang="eng", desc="", text="Ape comment")], v1=2)
EOF

# --- eyeD3 ---
e_common=(-t Title -a Artist -A Album -c "A comment" -G Rock -n 3 -N 12
          --add-image "cover.png:FRONT_COVER:Cover" --add-lyrics "lyrics.txt"
          --user-text-frame "REPLAYGAIN_TRACK_GAIN:-3.20 dB" --add-popularity "someone@example.org:196:7")
f=$(new eyeD3 v2.3-every-frame); q eyeD3 --to-v2.3 "${e_common[@]}" -Y 2004 "$f"
f=$(new eyeD3 v2.4-every-frame); q eyeD3 --to-v2.4 "${e_common[@]}" --recording-date 2004-05-06 \
  --orig-release-date 1970 "$f"
f=$(new eyeD3 v2.4-release-date-only); q eyeD3 --to-v2.4 -t T --release-date 1999-02-03 "$f"
f=$(new eyeD3 v2.3-japanese); q eyeD3 --to-v2.3 -t "日本語のタイトル" -a "歌手" -A "アルバム" -c "コメント" "$f"
f=$(new eyeD3 v2.4-japanese); q eyeD3 --to-v2.4 -t "日本語のタイトル" -a "歌手" -A "アルバム" -c "コメント" "$f"
f=$(new eyeD3 v2.3-long-fields); q eyeD3 --to-v2.3 -t "$long_title" -A "$long_album" -a A -Y 1995 "$f"
f=$(new eyeD3 v2.3-comm-several); q eyeD3 --to-v2.3 -t T -c "Plain" -c "Deutsch::deu" -c "x:Other:eng" "$f"
f=$(new eyeD3 v1.1-only); q eyeD3 --to-v1.1 -t Title -a Artist -A Album -Y 2004 -c "A comment" -G Rock -n 3 "$f"
f=$(new eyeD3 both-tags); q eyeD3 --to-v2.3 -t Title -a Artist -A Album -Y 2004 -c "A comment" -G Rock "$f"
  q eyeD3 --to-v1.1 -t Title -a Artist -A Album -Y 2004 -c "A comment" -G Rock "$f"

# --- id3v2 (id3lib) ---
f=$(new id3v2 v2.3-basic); q id3v2 -2 -t Title -a Artist -A Album -y 2004 -c "A comment" -g 17 -T 3/12 "$f"
f=$(new id3v2 v2.3-frames); q id3v2 -2 -t Title -a Artist -y 2004 --TORY 1970 --TXXX "REPLAYGAIN_TRACK_GAIN:-3.20 dB" \
  -c "iTunNORM":" 00000150 000001A0":"eng" "$f"
  q id3v2 -2 -c "":"Plain":"eng" "$f"
f=$(new id3v2 v2.3-full-text-date); q id3v2 -2 -t T -a A --TYER "Oct 3, 1995" "$f"
f=$(new id3v2 v2.3-long-fields); q id3v2 -2 -t "$long_title" -A "$long_album" -a A "$f"
f=$(new id3v2 v1-only); q id3v2 -1 -t Title -a Artist -A Album -y 2004 -c "A comment" -g 17 -T 3 "$f"
f=$(new id3v2 both-tags); q id3v2 -t Title -a Artist -A Album -y 2004 -c "A comment" -g 17 "$f"
f=$(new id3v2 v1-long-cut); q id3v2 -1 -t "$long_title" -A "$long_album" "$f"

# --- kid3-cli ---
k() { local f=$1; shift; local c=(); for x in "$@"; do c+=(-c "$x"); done; q kid3-cli "${c[@]}" "$f"; }
kset=("set title Title" "set artist Artist" "set album Album" "set comment 'A comment'" "set genre Rock" "set tracknumber 3")
# kid3-cli writes ID3v2.3 unless the tag already is ID3v2.4: "to24" on a
# tag it has saved makes one.
f=$(new kid3-cli v2.4); k "$f" "tag 2" "set title T"; k "$f" "tag 2" "to24"
  k "$f" "tag 2" "${kset[@]}" "set date 2004-05-06"
f=$(new kid3-cli v2.3); k "$f" "tag 2" "${kset[@]}" "set date 2004"
f=$(new kid3-cli v2.4-japanese); k "$f" "tag 2" "set title T"; k "$f" "tag 2" "to24"
  k "$f" "tag 2" "set title 日本語のタイトル" "set artist 歌手" "set album アルバム" "set originaldate 1970"
f=$(new kid3-cli v1); k "$f" "tag 1" "${kset[@]}" "set date 2004"
f=$(new kid3-cli both-tags); k "$f" "tag 1" "${kset[@]}" "set date 2004" "tag 2" "${kset[@]}" "set date 2004"
f=$(new kid3-cli japanese); k "$f" "tag 2" "set title 日本語のタイトル" "set artist 歌手" "set album アルバム"
f=$(new kid3-cli custom-genre); k "$f" "tag 2" "set title T" "set genre 'My Own Genre'"
f=$(new kid3-cli frames); k "$f" "tag 2" "set title T" "set picture:'cover.png' 'Cover'" "set lyrics 'La la'" \
  "set rating 4" "set 'REPLAYGAIN_TRACK_GAIN' '-3.20 dB'" "set originaldate 1970"

# --- id3tool (ID3v1.1 only) ---
f=$(new id3tool v1.1); q id3tool -t Title -r Artist -a Album -y 2004 -n "A comment" -G Rock -c 3 "$f"
f=$(new id3tool v1-full-width); q id3tool -t "Thirty characters exactly here" -r "Artist" -a "Album" -y 2004 "$f"
f=$(new id3tool v1-cp932); q id3tool -t "$(printf '\x93\xfa\x96\x7b\x8c\xea')" -r "$(printf '\x89\xcc\x8e\xe8')" "$f"
f=$(new id3tool v1-utf8); q id3tool -t "日本語" -r "歌手" "$f"

"$py" - "$cli" *.mp3 <<'EOF'
import hashlib, json, re, shutil, struct, subprocess, sys
from mutagen.id3 import ID3, ID3NoHeaderError, TCON
from mutagen.apev2 import APEv2, APENoHeaderError

cli, files = sys.argv[1], sys.argv[2:]
FIELDS = ["title", "artist", "album", "year", "comment", "genre"]
GENRES = TCON.GENRES

def legacy(raw, tagwide_jp):
    """Text declared Latin-1, as meant: UTF-8, CP932 or Windows-1252."""
    try:
        s = raw.decode("utf-8")
        if any(b >= 0x80 for b in raw):
            return s
    except UnicodeDecodeError:
        pass
    if tagwide_jp:
        try:
            return raw.decode("cp932")
        except UnicodeDecodeError:
            pass
    return raw.decode("cp1252", errors="replace")

def looks_cp932(raws):
    raw = b" ".join(r for r in raws if any(b >= 0x80 for b in r))
    if not raw:
        return False
    try:
        raw.decode("utf-8")
        return False
    except UnicodeDecodeError:
        pass
    try:
        s = raw.decode("cp932")
    except UnicodeDecodeError:
        return False
    return any("\u3040" <= c <= "\u30ff" or "\u4e00" <= c <= "\u9fff" for c in s)

def trim(s, width):
    s = s.strip(" \u3000")
    return s[:width]

def genre_name(text):
    m = re.fullmatch(r"\(?(\d+)\)?", text.strip())
    if m:
        n = int(m.group(1))
        return GENRES[n] if n < 192 else ""
    m = re.fullmatch(r"\((\d+)\)(.*)", text.strip())
    if m:
        return m.group(2) or GENRES[int(m.group(1))]
    return text

def id3v1(data):
    if len(data) >= 128 and data[-128:-125] == b"TAG":
        return data[-128:]
    return None

def v1_fields(tag):
    raws = [tag[3:33], tag[33:63], tag[63:93], tag[93:97], tag[97:127]]
    if tag[125] == 0 and tag[126] != 0:
        raws[4] = tag[97:125]
    raws = [r.split(b"\0")[0] for r in raws]
    jp = looks_cp932(raws)
    out = dict(zip(["title", "artist", "album", "year", "comment"], [legacy(r, jp) for r in raws]))
    out["genre"] = GENRES[tag[127]] if tag[127] < 192 else ""
    return out

def utf8_tag(tag):
    raws = [tag[a:b] for k, (a, b) in V1_PLACE.items() if k != "genre"]
    return any(b >= 0x80 for r in raws for b in r) and looks_utf8(raws)

def looks_utf8(raws):
    try:
        for r in raws:
            r.split(b"\0")[0].decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False

def expected(path, others=True):
    """The six fields as the bytes mean them, per the display rules above;
    without `others`, from the ID3v2 tag alone."""
    data = open(path, "rb").read()
    got = {}
    try:
        t = ID3(path, translate=False, load_v1=False)
    except ID3NoHeaderError:
        t = None
    if t is not None:
        latin = []
        for fr in t.values():
            if getattr(fr, "encoding", None) == 0 and hasattr(fr, "text") and isinstance(fr.text, list):
                latin += [str(x).encode("latin-1", errors="replace") for x in fr.text]
        jp = looks_cp932(latin)
        def text(fr):
            vals = [str(x) for x in fr.text]
            if fr.encoding == 0:
                vals = [legacy(v.encode("latin-1", errors="replace"), jp) for v in vals]
            return " ".join(v for v in vals if v)
        for key, ids in [("title", ["TIT2"]), ("artist", ["TPE1"]), ("album", ["TALB"]),
                         ("year", ["TDRC", "TYER", "TDRL"])]:
            for i in ids:
                frs = t.getall(i)
                if frs and text(frs[0]):
                    got[key] = text(frs[0])
                    break
        for c in t.getall("COMM"):
            if c.desc == "":
                if text(c):
                    got["comment"] = text(c)
                break
        g = t.getall("TCON")
        if g and g[0].text and str(g[0].text[0]):
            got["genre"] = genre_name(str(g[0].text[0]))
    try:
        if not others:
            raise APENoHeaderError
        a = APEv2(path)
        for key, item in [("title", "Title"), ("artist", "Artist"), ("album", "Album"), ("year", "Year"),
                          ("comment", "Comment"), ("genre", "Genre")]:
            if key not in got and item in a and str(a[item]):
                got[key] = genre_name(str(a[item])) if key == "genre" else str(a[item])
    except APENoHeaderError:
        pass
    tag = id3v1(data) if others else None
    if tag:
        for k, v in v1_fields(tag).items():
            if k not in got and v.strip():
                got[k] = v
    return {k: trim(got.get(k, ""), 4 if k == "year" else 30) for k in FIELDS}

def show(path):
    r = subprocess.run([cli, "show", "--json", path], capture_output=True, text=True)
    if r.returncode != 0:
        return None, r.stderr.strip()
    return json.loads(r.stdout), ""

def unsync(b):
    return b.replace(b"\xff\x00", b"\xff")

def v2_frames(data):
    """(version, [(id, flags, data)], end of tag) of the ID3v2 tag at the start."""
    if data[:3] != b"ID3":
        return None, [], 0
    ver, flags = data[3], data[5]
    size = sum(b << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
    body = data[10:10 + size]
    if ver < 4 and flags & 0x80:
        body = unsync(body)
    pos = 0
    if flags & 0x40 and ver >= 3:
        if ver == 3:
            pos = 4 + struct.unpack(">I", body[:4])[0]
        else:
            pos = sum(b << (7 * (3 - i)) for i, b in enumerate(body[:4]))
    frames = []
    hl = 6 if ver == 2 else 10
    while pos + hl <= len(body) and body[pos] != 0:
        fid = body[pos:pos + (3 if ver == 2 else 4)]
        if ver == 2:
            n, fl = int.from_bytes(body[pos + 3:pos + 6], "big"), b""
        elif ver == 3:
            n, fl = struct.unpack(">I", body[pos + 4:pos + 8])[0], body[pos + 8:pos + 10]
        else:
            n, fl = sum(b << (7 * (3 - i)) for i, b in enumerate(body[pos + 4:pos + 8])), body[pos + 8:pos + 10]
        d = body[pos + hl:pos + hl + n]
        if ver == 4 and fl and fl[1] & 0x02:
            d = unsync(d)
        frames.append((fid.decode("latin-1"), fl.hex(), d))
        pos += hl + n
    return ver, frames, 10 + size + (10 if flags & 0x10 else 0)

def ape_items(data):
    end = len(data) - (128 if id3v1(data) else 0)
    foot = data[end - 32:end]
    if foot[:8] != b"APETAGEX":
        return {}, end
    size, count = struct.unpack("<II", foot[12:20])
    pos, items = end - size, {}
    for _ in range(count):
        n, fl = struct.unpack("<II", data[pos:pos + 8])
        k = data[pos + 8:data.index(b"\0", pos + 8)]
        v = data[pos + 9 + len(k):pos + 9 + len(k) + n]
        items[k.decode("ascii").lower()] = (fl, v)
        pos += 9 + len(k) + n
    start = end - size - (32 if struct.unpack("<I", foot[20:24])[0] & 0x80000000 else 0)
    return items, start

def audio(data):
    _, _, start = v2_frames(data)
    _, end = ape_items(data)
    return data[start:end]

# The frames that hold each field, and where ID3v1 keeps it.
FRAMES = {"title": ("TIT2", "TT2"), "artist": ("TPE1", "TP1"), "album": ("TALB", "TAL"),
          "year": ("TDRC", "TYER", "TDRL", "TYE"), "genre": ("TCON", "TCO")}
V1_PLACE = {"title": (3, 33), "artist": (33, 63), "album": (63, 93), "year": (93, 97), "comment": (97, 125),
            "genre": (127, 128)}

def plain_comment(fid, data):
    """A COMM frame without a description: the one that holds the comment."""
    if fid not in ("COMM", "COM") or len(data) < 5:
        return False
    if data[0] in (1, 2):
        return data[4:6] == b"\0\0" or data[4:8] in (b"\xff\xfe\0\0", b"\xfe\xff\0\0")
    return data[4:5] == b"\0"

def without_field(frames, field):
    """The frames but those of `field` (for the comment: the first plain COMM)."""
    out, seen = [], False
    for fid, fl, d in frames:
        if fid in FRAMES.get(field, ()):
            continue
        if field == "comment" and not seen and plain_comment(fid, d):
            seen = True
            continue
        out.append((fid, fl, d))
    return sorted(out)

def check_write(path, before_fields, field="album", value="Sweep Album"):
    """`field` set to `value`, everything else as it was; '' when so, else why."""
    old = open(path, "rb").read()
    r = subprocess.run([cli, "set", "--" + field, value, path], capture_output=True, text=True)
    if r.returncode != 0:
        return f"set --{field} failed: " + (r.stdout + r.stderr).strip()
    new = open(path, "rb").read()
    why = []
    v_old, f_old, _ = v2_frames(old)
    v_new, f_new, _ = v2_frames(new)
    if v_old is not None and v_old != v_new:
        why.append(f"ID3v2.{v_old} became ID3v2.{v_new}")
    k_old, k_new = without_field(f_old, field), without_field(f_new, field)
    lost = [x for x in k_old if x not in k_new]
    if v_old is not None and lost:
        why.append("frames changed or lost: " + ", ".join(f"{i}({d[:24]!r})" for i, _, d in lost))
    if v_old is not None:
        extra = [x for x in k_new if x not in k_old]
        if extra:
            why.append("frames added: " + ", ".join(f"{i}({d[:24]!r})" for i, _, d in extra))
    t_old, t_new = id3v1(old), id3v1(new)
    if t_old and not t_new:
        why.append("ID3v1 tag lost")
    elif t_old:
        a, b = V1_PLACE[field]
        if t_old[:a] + t_old[b:] != t_new[:a] + t_new[b:]:
            # One code page per ID3v1 tag: a tag whose text was UTF-8 is
            # written in CP932 (or Windows-1252) as a whole; its texts
            # must read as before.
            f_o, f_n = v1_fields(t_old), v1_fields(t_new)
            if not utf8_tag(t_old) or any(f_o[k] != f_n[k] for k in f_o if k != field):
                why.append(f"ID3v1 bytes changed beside the {field}")
    a_old, _ = ape_items(old)
    a_new, _ = ape_items(new)
    for k, v in a_old.items():
        if k != field and a_new.get(k) != v:
            why.append(f"APE item {k} changed: {v!r} -> {a_new.get(k)!r}")
    if audio(old) != audio(new):
        why.append("audio bytes changed")
    want = dict(before_fields, **{field: value})
    if v_old is None:
        # A tag made new holds every field: other programs read it alone.
        alone = expected(path, others=False)
        for k in FIELDS:
            if alone[k] != want[k]:
                why.append(f"the new ID3v2 tag holds {k}={alone[k]!r}, not {want[k]!r}")
    got, err = show(path)
    exp = expected(path)
    for k in FIELDS:
        if got is None or got[k] != want[k]:
            why.append(f"shows {k}={got and got[k]!r}, was {want[k]!r}")
        if exp[k] != want[k]:
            why.append(f"mutagen reads {k}={exp[k]!r}, was {want[k]!r}")
    return "; ".join(why)

def check_same(path, fields):
    old = open(path, "rb").read()
    args = [cli, "set"]
    for k in FIELDS[:5]:
        args += ["--" + k, fields[k]]
    if fields["genre"] in GENRES[:192]:
        args += ["--genre", fields["genre"]]
    r = subprocess.run(args + [path], capture_output=True, text=True)
    if r.returncode != 0:
        return "set failed: " + (r.stdout + r.stderr).strip()
    if hashlib.sha256(open(path, "rb").read()).digest() != hashlib.sha256(old).digest():
        return "bytes changed (" + r.stdout.strip().split("\t")[-1] + ")"
    return ""

rows, notes, fails = [], [], 0
for path in sorted(files):
    tool, case = path[:-4].split("--", 1)
    exp = expected(path)
    got, err = show(path)
    if got is None:
        read = "cannot be read: " + err
    else:
        read = "; ".join(f"{k}: shows {got[k]!r}, bytes hold {exp[k]!r}" for k in FIELDS if got[k] != exp[k])
    fields = got if got is not None else exp
    shutil.copy(path, "same.mp3")
    same = check_same("same.mp3", fields)
    shutil.copy(path, "write.mp3")
    write = check_write("write.mp3", fields)
    # Clearing the year keeps the original release date; clearing the
    # comment keeps every other COMM frame.
    # A Japanese album beside Western text, and beside Japanese text.
    for field, value, hint in (("year", "", ("date", "tory", "tdor", "tdrl", "every", "frames")),
                               ("comment", "", ("comm", "every", "frames")),
                               ("album", "新しいアルバム", ("japanese", "western", "cp932", "utf8"))):
        if any(h in case for h in hint) and fields[field] != value and not write:
            shutil.copy(path, "write.mp3")
            write = check_write("write.mp3", fields, field, value)
    result = ["OK" if not x else "FAIL" for x in (read, write, same)]
    fails += result.count("FAIL")
    rows.append((tool, case, *result))
    for what, x in (("read", read), ("write", write), ("same", same)):
        if x:
            notes.append(f"{tool} {case}, {what}: {x}")

w = max(len(r[1]) for r in rows)
print(f"{'tool':9} {'case':{w}} read  write same")
for tool, case, a, b, c in rows:
    print(f"{tool:9} {case:{w}} {a:5} {b:5} {c}")
print()
for n in notes:
    print(n)
print(f"\n{len(rows)} files, {3 * len(rows) - fails} of {3 * len(rows)} checks pass, {fails} fail")
sys.exit(1 if fails else 0)
EOF
