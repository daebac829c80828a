#!/usr/bin/env python3
"""Writes tests/data/name-patterns.txt: file names and what a pattern gives.

Each generated name is put together from known fields by a template, so the
expected fields are the parts it was made of; the ambiguous cases (a
separator inside a field, numbers where no %track% stands, names that must
not match) are written out by hand below. Run it from anywhere; it rewrites
the table next to itself.
"""
import os

ARTISTS = [
    "Queen", "UB40", "311", "10cc", "blink-182", "Sum 41", "U2", "The B-52's", "Mr. Big", "R.E.M.",
    "Jay-Z", "Earth, Wind & Fire", "Guns N' Roses", "Beyoncé", "Sigur Rós", "Mötley Crüe",
    "中村花子", "山田太郎", "宇多田ヒカル", "Mr.Children", "B'z", "L'Arc～en～Ciel", "きゃりーぱみゅぱみゅ",
    "東京事変", "X JAPAN", "MONGOL800", "DA PUMP", "m-flo", "BUMP OF CHICKEN", "Perfume",
    "2Pac", "50 Cent", "Maroon 5", "Blink 182", "t.A.T.u.", "Ke$ha", "P!nk", "will.i.am", "AKB48", "少女時代",
]
TITLES = [
    "Red Red Wine", "Amber", "I'm Not in Love", "All the Small Things", "Fat Lip", "One", "Love Shack",
    "To Be with You", "Losing My Religion", "Hard Knock Life (Ghetto Anthem)", "September",
    "Sweet Child o' Mine", "Crazy in Love (feat. Jay-Z)", "Hoppípolla", "Kickstart My Heart",
    "夜明けの歌", "朝の光", "First Love", "innocent world", "ultra soul", "HONEY", "つけまつける",
    "丸の内サディスティック", "紅", "小さな恋のうた", "U.S.A.", "come again", "天体観測", "ポリリズム",
    "California Love - Remix", "In da Club", "Moves Like Jagger feat. Christina Aguilera", "Dammit",
    "All the Things She Said", "TiK ToK", "So What", "Vol. 2", "ヘビーローテーション", "Gee",
    "1979", "99 Luftballons", "Song 2", "4'33\"", "Mambo No. 5", "19-2000", "Part 1 - Intro",
    "Don't Stop Me Now - 2011 Remaster", "さくら (独唱)", "3.14", "Live at Budokan.1999",
]
ALBUMS = ["Labour of Love", "Grassroots", "The Original Soundtrack", "Enema of the State", "Achtung Baby",
          "Out of Time", "First Love", "Atomic Heart", "教育", "無罪モラトリアム", "GAME", "Vol. 1", "1984",
          "A Night at the Opera", "Ágætis byrjun", "Dr. Feelgood", "ユグドラシル", "⊿", "Greatest Hits - Disc 1"]
YEARS = ["1983", "1997", "2001", "1999", "2008", "1975", "２００４", "2010"]
COMMENTS = ["ripped 2003", "Live", "初回盤", "CD 1", "bonus", "www.example.com"]

# Templates: the pattern, how a name is made from the fields, which fields
# it names. %title% keeps any separator it holds, so titles go in as they are;
# other fields must not hold the literal that follows them (checked below).
TEMPLATES = [
    ("%artist% - %title%", "{artist} - {title}", ["artist", "title"]),
    ("%track% - %artist% - %title%", "{track} - {artist} - {title}", ["track", "artist", "title"]),
    ("%track%. %title%", "{track}. {title}", ["track", "title"]),
    ("%track% %title%", "{track} {title}", ["track", "title"]),
    ("%artist% - %album% - %track% - %title%", "{artist} - {album} - {track} - {title}",
     ["artist", "album", "track", "title"]),
    ("%artist% - %year% - %album% - %title%", "{artist} - {year} - {album} - {title}",
     ["artist", "year", "album", "title"]),
    ("%title% (%artist%)", "{title} ({artist})", ["title", "artist"]),
    ("[%album%] %track% %title%", "[{album}] {track} {title}", ["album", "track", "title"]),
    ("%skip% - %artist% - %title%", "{skip} - {artist} - {title}", ["artist", "title"]),
    ("%artist%「%title%」", "{artist}「{title}」", ["artist", "title"]),
    ("%artist% - %title% [%comment%]", "{artist} - {title} [{comment}]", ["artist", "title", "comment"]),
    ("%track%_%artist%_%title%", "{track}_{artist}_{title}", ["track", "artist", "title"]),
]

ORDER = ["title", "artist", "album", "year", "comment"]


def ascii_digits(s):
    return "".join(chr(ord(c) - 0xFF10 + 48) if "０" <= c <= "９" else c for c in s)


def expected(fields, named):
    cells = []
    for key in ORDER:
        if key in named:
            value = fields[key]
            cells.append(f"{key}={ascii_digits(value) if key == 'year' else value}")
    if "track" in named:
        cells.append(f"track={int(fields['track'])}")
    return "\\t".join(cells)


def literal_after(template, key):
    """The literal text right after {key} in a template ('' at the end)."""
    rest = template.split("{" + key + "}", 1)[1]
    return rest.split("{", 1)[0]


def generated():
    rows = []
    n = 0
    for t, (pattern, form, named) in enumerate(TEMPLATES):
        for i in range(26):
            n += 1
            f = {
                "artist": ARTISTS[(i * 7 + t * 3) % len(ARTISTS)],
                "title": TITLES[(i * 11 + t * 5) % len(TITLES)],
                "album": ALBUMS[(i * 5 + t) % len(ALBUMS)],
                "year": YEARS[(i + t) % len(YEARS)],
                "comment": COMMENTS[(i + 2 * t) % len(COMMENTS)],
                "track": ["01", "3", "12", "007", "99", "１０"][(i + t) % 6],
                "skip": ["CD1", "Disc 2 - Side A", "x"][i % 3],
            }
            # A field before the title must not hold the literal that ends it,
            # nor one after the title the literal that begins it: that is the
            # ambiguous case, written out by hand below.
            clash = False
            for key in ("artist", "album", "comment", "skip"):
                if "{" + key + "}" not in form:
                    continue
                after = literal_after(form, key)
                before = form.split("{" + key + "}")[0]
                if after and after in f[key]:
                    clash = True
                if form.index("{" + key + "}") > form.index("{title}"):
                    lit = before.rsplit("}", 1)[-1]
                    if lit and lit in f[key]:
                        clash = True
            # The title may hold the literal after it only where nothing but the end follows.
            after_title = literal_after(form, "title")
            if after_title and after_title in f["title"]:
                clash = True
            if form.startswith("{track}") and f["title"][:1].isdigit() and literal_after(form, "track") == "":
                clash = True
            if clash:
                continue
            if "track" in named and ascii_digits(f["track"]).isdigit() is False:
                continue
            name = form.format(**f)
            ext = [".mp3", ".MP3", ".Mp3"][n % 3]
            label = f"{pattern.split('%')[1]}.. #{n}"
            rows.append((f"gen {t:02d}-{i:02d}", name + ext, pattern, expected(f, named)))
    return rows


# Hand-written: the rule for ambiguity, numbers, blanks, extensions, and names
# that must not match. Fields are "key=value" joined by tabs; "-" is no match.
HAND = [
    ("UB40 is an artist", "UB40 - Red Red Wine.mp3", "%artist% - %title%", "title=Red Red Wine\\tartist=UB40"),
    ("311 is an artist", "311 - Amber.mp3", "%artist% - %title%", "title=Amber\\tartist=311"),
    ("10cc is an artist", "10cc - Dreadlock Holiday.mp3", "%artist% - %title%", "title=Dreadlock Holiday\\tartist=10cc"),
    ("a number with no %track% stays text", "01 - Intro.mp3", "%artist% - %title%", "title=Intro\\tartist=01"),
    ("UB40 is no track", "UB40 - Red Red Wine.mp3", "%track% - %artist% - %title%", "-"),
    ("10cc is no track", "10cc I'm Not in Love.mp3", "%track% %title%", "-"),
    ("track takes every digit", "0123 Song.mp3", "%track% %title%", "title=Song\\ttrack=123"),
    ("a track then a digit band", "07 - 311 - Amber.mp3", "%track% - %artist% - %title%",
     "title=Amber\\tartist=311\\ttrack=7"),
    ("title keeps the later separators", "A - B - C.mp3", "%artist% - %title%", "title=B - C\\tartist=A"),
    ("title first keeps the earlier ones", "A - B - C.mp3", "%title% - %artist%", "title=A - B\\tartist=C"),
    ("title in the middle keeps the extra", "A - B - C - D.mp3", "%artist% - %title% - %album%",
     "title=B - C\\tartist=A\\talbum=D"),
    ("without a title the last field takes the rest", "A - B - C.mp3", "%artist% - %album%",
     "artist=A\\talbum=B - C"),
    ("title with brackets before the artist", "Song (Live) (Queen).mp3", "%title% (%artist%)",
     "title=Song (Live)\\tartist=Queen"),
    ("dots in the artist and title", "R.E.M. - It's the End of the World as We Know It (And I Feel Fine).mp3",
     "%artist% - %title%", "title=It's the End of the World as We Know It (And I Feel Fine)\\tartist=R.E.M."),
    ("a name ending in a dot", "Mr. Big - To Be with You..mp3", "%artist% - %title%", "title=To Be with You.\\tartist=Mr. Big"),
    ("only one .mp3 goes", "A - B.mp3.mp3", "%artist% - %title%", "title=B.mp3\\tartist=A"),
    ("no extension", "A - B", "%artist% - %title%", "title=B\\tartist=A"),
    ("another extension is text", "A - B.flac", "%artist% - %title%", "title=B.flac\\tartist=A"),
    ("blanks around fields go", "Queen  -  Song\\u3000.mp3", "%artist% - %title%", "title=Song\\tartist=Queen"),
    ("feat. stays with the artist", "Jay-Z feat. Alicia Keys - Empire State of Mind.mp3", "%artist% - %title%",
     "title=Empire State of Mind\\tartist=Jay-Z feat. Alicia Keys"),
    ("hyphens without blanks are text", "blink-182 - Adam's Song.mp3", "%artist% - %title%",
     "title=Adam's Song\\tartist=blink-182"),
    ("full-width year is stored in ASCII", "２００４ - 歌.mp3", "%year% - %title%", "title=歌\\tyear=2004"),
    ("year must have four digits", "Queen - 75 - Opera.mp3", "%artist% - %year% - %album%", "-"),
    ("year of five digits", "Queen - 19755 - Opera.mp3", "%artist% - %year% - %album%", "-"),
    ("letter case of literals counts", "Queen FEAT Bowie.mp3", "%artist% feat %title%", "-"),
    ("letter case of placeholders does not", "Queen - Song.mp3", "%ARTIST% - %Title%", "title=Song\\tartist=Queen"),
    ("a percent sign is text", "100% - Pure Love.mp3", "100% - %title%", "title=Pure Love"),
    ("CP932 name read as shown", "\\x92\\x86\\x91\\xba\\x89\\xd4\\x8eq - \\x96\\xe9\\x96\\xbe\\x82\\xaf\\x82\\xcc\\x89\\xcc.mp3",
     "%artist% - %title%", "title=夜明けの歌\\tartist=中村花子"),
    ("Windows-1252 name read as shown", "Beyonc\\xe9 - D\\xe9j\\xe0 Vu.mp3", "%artist% - %title%",
     "title=Déjà Vu\\tartist=Beyoncé"),
    ("decomposed kana in NFC", "か\\u3099か\\u3099 - ほ\\u309Aほ\\u309A.mp3", "%artist% - %title%",
     "title=ぽぽ\\tartist=がが"),
    ("skip may be empty", " - Queen - Song.mp3", "%skip% - %artist% - %title%", "title=Song\\tartist=Queen"),
    ("no separator", "Queen.mp3", "%artist% - %title%", "-"),
    ("a hyphen without blanks", "Queen-Bohemian Rhapsody.mp3", "%artist% - %title%", "-"),
    ("an empty artist", " - Title.mp3", "%artist% - %title%", "-"),
    ("a blank title", "Artist - \\u3000.mp3", "%artist% - %title%", "-"),
    ("an empty title", "Artist - .mp3", "%artist% - %title%", "-"),
    ("a track that is not a number", "A1 - Intro.mp3", "%track% - %title%", "-"),
    ("literal missing at the start", "Song.mp3", "[%album%] %title%", "-"),
    ("the whole name must match", "Queen - Song (Live).mp3", "%artist% - %title% [%comment%]", "-"),
    ("japanese brackets missing", "中村花子 夜明けの歌.mp3", "%artist%「%title%」", "-"),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    rows = generated() + [("hand " + a, b, c, d) for a, b, c, d in HAND]
    with open(os.path.join(here, "name-patterns.txt"), "w", encoding="utf-8") as out:
        out.write("# Made by make-name-patterns.py: file names, a pattern, and the fields it gives\n"
                  "# (key=value, tab-separated, in the order title artist album year comment track)\n"
                  "# or \"-\" for no match. \\xHH in a name is the byte HH.\n\n[names]\n"
                  "@ | name | pattern | fields\n")
        for label, name, pattern, fields in rows:
            for cell in (label, name, pattern, fields):
                assert " | " not in cell and not cell.endswith(" |"), cell
            out.write(f"{label} | {name} | {pattern} | {fields}\n")
    print(len(rows), "rows")


if __name__ == "__main__":
    main()
