#!/usr/bin/env python3
# Makes garbled.txt, the labelled corpus of the garbled-text detector: tag
# texts that another program decoded with the wrong code page and stored as
# Unicode, texts that lost bytes on the way (no repair may be proposed), and
# clean texts of many languages (no repair may be proposed).
#
# The corpus file is committed and the tests read it as it is, so the test
# machines need none of the word lists below. Run this script by hand to
# make it anew (same seed, same word lists: same file):
#   apt-get install skkdic wamerican wfrench wngerman wspanish witalian \
#       wportuguese wdanish wswedish
#   python3 tests/data/make-garbled-corpus.py > tests/data/garbled.txt
#
# Texts come from SKK's large dictionary (Japanese) and the word lists of
# /usr/share/dict, put together into titles, names and comments. Greek,
# Russian and emoji, which have no word list package, come from the short
# lists written below.

import random
import re
import sys
import unicodedata

rng = random.Random(20261207)

# ---- code pages --------------------------------------------------------

# Windows-1252 reading its five undefined bytes as their C1 codes, as
# Windows does.
def dec1252(b):
    return ''.join(chr(x) if x in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([x]).decode('cp1252') for x in b)

def enc1252(s):
    out = bytearray()
    for ch in s:
        if ord(ch) in (0x81, 0x8D, 0x8F, 0x90, 0x9D):
            out.append(ord(ch))
        else:
            out += ch.encode('cp1252')
    return bytes(out)

def cp932(s):
    try:
        b = s.encode('cp932')
    except UnicodeEncodeError:
        return None
    return b if b.decode('cp932') == s else None

# What a program made of bytes it read in the wrong code page. `lost`: the
# text such a program writes for a byte its code page lacks (None: it keeps
# every byte, as the chains of a recoverable garbling do).
MISREAD = {
    'Windows-1252': lambda b, lost=None: ''.join(
        lost if lost and x in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else dec1252(bytes([x])) for x in b),
    'ISO-8859-1': lambda b, lost=None: ''.join(
        lost if lost and 0x80 <= x < 0xA0 else chr(x) for x in b),
    'MacRoman': lambda b, lost=None: b.decode('mac_roman'),
}

# ---- word lists --------------------------------------------------------

def words(path):
    with open(path, 'rb') as f:
        raw = f.read()
    try:
        text = raw.decode('utf-8')
    except UnicodeDecodeError:
        text = raw.decode('latin-1')   # the Swedish list
    return [w for w in text.split('\n') if w and "'" not in w and len(w) <= 14 and 'spec' not in w.lower()]

def japanese():
    kanji_kana = re.compile('^[\u3041-\u3096\u30A1-\u30FA\u30FC\u4E00-\u9FFF]{1,7}$')
    out = set()
    with open('/usr/share/skk/SKK-JISYO.L', 'rb') as f:
        nasi = False
        for raw in f:
            line = raw.decode('euc_jis_2004', errors='ignore')
            if line.startswith(';; okuri-nasi'):
                nasi = True
            if not nasi or line.startswith(';'):
                continue
            reading, _, rest = line.partition(' /')
            cands = [c.split(';')[0] for c in rest.strip().strip('/').split('/')]
            for t in [reading] + cands:
                if kanji_kana.match(t) and cp932(t):
                    out.add(t)
    return sorted(out)

JA = japanese()
LANGS = {
    'en': words('/usr/share/dict/american-english'),
    'fr': words('/usr/share/dict/french'),
    'de': words('/usr/share/dict/ngerman'),
    'es': words('/usr/share/dict/spanish'),
    'it': words('/usr/share/dict/italian'),
    'pt': words('/usr/share/dict/portuguese'),
    'da': words('/usr/share/dict/danish'),
    'sv': words('/usr/share/dict/swedish'),
}
# Words with letters beyond ASCII, where garbling shows.
ACCENTED = {k: [w for w in v if any(ord(c) > 0x7F for c in w)] for k, v in LANGS.items()}
ACCENTED['fr'] += ['Œuvre', 'cœur', 'sœur', 'œil', 'vœu', 'nœud', 'bœuf', 'mœurs', 'manœuvre', 'Œdipe']
GREEK = ['Αθήνα', 'Ελλάδα', 'θάλασσα', 'αγάπη', 'καρδιά', 'νύχτα', 'ουρανός', 'ήλιος', 'φεγγάρι',
         'τραγούδι', 'μουσική', 'όνειρο', 'ΖΩΗ', 'ΕΛΛΑΣ', 'Θεσσαλονίκη', 'μπουζούκι', 'χορός', 'φως',
         'ψυχή', 'Σαντορίνη', 'Μίκης', 'Θεοδωράκης', 'Χατζιδάκις', 'ρεμπέτικο', 'καλοκαίρι']
RUSSIAN = ['Москва', 'любовь', 'песня', 'ночь', 'звезда', 'Катюша', 'Калинка', 'ЗИМА', 'ёлка',
           'Чайковский', 'весна', 'дорога', 'сердце', 'Подмосковные', 'вечера']
EMOJI = ['\U0001F3B5', '\U0001F3B6', '\u2764\uFE0F', '\U0001F525', '\U0001F338', '\u2728', '\U0001F30A',
         '\U0001F319', '\U0001F600', '\U0001F44D', '\u2600\uFE0F', '\U0001F1EF\U0001F1F5', '\U0001F3B8']
JA_MARKS = ['「', '」', '・', 'ー', '、', '。', '　', '～', '！', '？', '♪', '（', '）', '＆']

# ---- titles ------------------------------------------------------------

def ja_text():
    r = rng.random()
    if r < 0.45:
        t = rng.choice(JA) + rng.choice(['の', 'と', 'に', 'へ', 'を', '']) + rng.choice(JA)
    elif r < 0.7:
        t = rng.choice(JA)
    elif r < 0.8:
        t = '「' + rng.choice(JA) + '」'
    elif r < 0.9:
        t = rng.choice(JA) + rng.choice(JA_MARKS) + rng.choice(JA)
    else:
        t = rng.choice(JA) + ' ' + rng.choice(['(Live)', 'feat. ' + rng.choice(JA), 'Remix', '2004', 'Vol.2', 'ＴＯＫＹＯ'])
    return t if cp932(t) else rng.choice(JA)

def west_text(lang=None, accented=True):
    lang = lang or rng.choice(list(LANGS))
    n = rng.choice([1, 1, 2, 2, 3, 4])
    ws = [rng.choice(LANGS[lang]) for _ in range(n)]
    if accented:
        ws[rng.randrange(n)] = rng.choice(ACCENTED[lang])
    r = rng.random()
    if r < 0.15:
        ws = [w.upper() for w in ws]
    elif r < 0.5:
        ws = [w[:1].upper() + w[1:] for w in ws]
    t = ' '.join(ws)
    r = rng.random()
    if r < 0.05:
        t = t + '…'
    elif r < 0.1:
        t = t + ' – ' + rng.choice(LANGS[lang])
    elif r < 0.14:
        t = '“' + t + '”'
    elif r < 0.18:
        t = t.replace(' ', '’', 1) if ' ' in t else t + '’s'
    return t

def any_text():
    return ja_text() if rng.random() < 0.5 else west_text()

# ---- rows --------------------------------------------------------------

def cell(s):
    out = []
    for i, ch in enumerate(s):
        o = ord(ch)
        if (ch in '\\|' or o < 0x20 or 0x7F <= o <= 0xA0 or o == 0xAD or 0xE000 <= o <= 0xF8FF or o == 0xFFFD
                or (ch == ' ' and (i == 0 or i == len(s) - 1))):
            out.append('\\u%04X' % o)
        else:
            out.append(ch)
    return ''.join(out)

def row(name, cells):
    while cells and cells[-1] == '':
        cells = cells[:-1]
    return ' | '.join([name] + [cell(c) for c in cells])

# A tag's fields: the title always; more fields in one tag of three.
def tag(make):
    if rng.random() < 0.67:
        return [make()]
    return [make(), make() if rng.random() < 0.8 else 'Various Artists', make() if rng.random() < 0.6 else '',
            rng.choice(['', '', 'ripped 2003', make()])]

print('''# The labelled corpus of the garbled-text detector, made by
# make-garbled-corpus.py (run by hand; see there). Sections:
# [MISREAD > REAL]: tags whose fields a program read as the code page MISREAD
#   when they were REAL, storing the wrong reading: each row is a name, then
#   per field (title, artist, album, comment) the stored text and the text it
#   stands for; the detector must give back exactly the second.
# [lost]: the same garbling where bytes were lost ("?" or U+FFFD for a byte
#   the wrong code page lacked): a row is a name and the fields; no repair.
# [clean]: fields of tags written right, in many languages: no repair.''')

garbled_total = 0
for wrong in ['Windows-1252', 'ISO-8859-1', 'MacRoman']:
    for real in ['CP932', 'UTF-8']:
        print('\n[%s > %s]\n@ | title | titleMeant | artist | artistMeant | album | albumMeant | comment | commentMeant' % (wrong, real))
        seen = set()
        n = 0
        examples = ([['夜明けの歌'], ['「夜明けの歌」'], ['朝の歌', 'さくら', '', 'コメント\r\n二行目']] if real == 'CP932'
                    else [['日本'], ['Café'], ['Amélie'], ['Crème brûlée', 'Björk', '', 'première ligne\r\nseconde ligne']])
        while n < 450:
            make = ja_text if real == 'CP932' or rng.random() < 0.5 else west_text
            fields = examples.pop(0) if examples else tag(make)
            enc = (lambda s: cp932(s)) if real == 'CP932' else (lambda s: s.encode('utf-8'))
            cells = []
            for f in fields:
                cells += [MISREAD[wrong](enc(f)), f]
            if cells[0] in seen or cells[0] == cells[1]:
                continue
            seen.add(cells[0])
            n += 1
            print(row('%s%s%d' % (wrong[0], real[0], n), cells))
        garbled_total += n

# Western text read as Japanese; where the bytes are no CP932 the garbled
# reading lost them, and the text goes to the lost section. Bytes that
# CP932 leaves to its users (F0-F9) are left out: no text holds them.
lost_rows = []
print('\n[CP932 > Windows-1252]\n@ | title | titleMeant | artist | artistMeant | album | albumMeant | comment | commentMeant')
n = 0
examples = [['Amélie'], ['Café'], ['Beyoncé'], ['Édith Piaf', 'Non, je ne regrette rien']]
while n < 450:
    fields = examples.pop(0) if examples else tag(west_text)
    cells = []
    lost = None
    for f in fields:
        b = enc1252(f)
        try:
            cells += [b.decode('cp932'), f]
        except UnicodeDecodeError:
            lost = [b.decode('cp932', errors='replace') for f in fields for b in [enc1252(f)]]
            break
    if any(0xE000 <= ord(c) <= 0xF8FF for c in ''.join(lost or cells)):
        continue
    if lost:
        if any(ord(c) > 0x7F and c != '\uFFFD' for c in ''.join(lost)):
            if rng.random() < 0.5:
                lost = [s.replace('\uFFFD', '?') for s in lost]
            lost_rows.append(lost)
        continue
    if cells[0] == cells[1]:
        continue
    n += 1
    print(row('CW%d' % n, cells))
garbled_total += n

# The other chains, losing the bytes the wrong code page lacks.
def lossy(make, real, wrong):
    for _ in range(200):
        fields = tag(make)
        enc = (lambda s: cp932(s)) if real == 'CP932' else (lambda s: s.encode('utf-8'))
        mark = rng.choice(['?', '\uFFFD'])
        out = [MISREAD[wrong](enc(f), mark) for f in fields]
        if any(mark in o for o in out):
            return out
    return None

marked = lambda: rng.choice(JA_MARKS) + ja_text() if rng.random() < 0.5 else ja_text() + rng.choice(JA_MARKS)
while len(lost_rows) < 500:
    wrong = rng.choice(['Windows-1252', 'ISO-8859-1'])
    real = rng.choice(['CP932', 'UTF-8'])
    make = marked if real == 'CP932' else any_text
    r = lossy(make, real, wrong)
    if r:
        lost_rows.append(r)
print('\n[lost]\n@ | title | artist | album | comment')
for i, r in enumerate(lost_rows[:600], 1):
    print(row('L%d' % i, r))

def clean():
    r = rng.random()
    if r < 0.3:
        return ja_text()
    if r < 0.75:
        return west_text(accented=rng.random() < 0.8)
    if r < 0.8:
        return ' '.join(rng.choice(GREEK) for _ in range(rng.choice([1, 2, 3])))
    if r < 0.83:
        return ' '.join(rng.choice(RUSSIAN) for _ in range(rng.choice([1, 2])))
    if r < 0.88:
        return rng.choice([ja_text, west_text])() + ' ' + rng.choice(EMOJI)
    if r < 0.94:
        return rng.choice(LANGS['en']).capitalize() + ' ' + rng.choice(JA) + rng.choice(['', ' (Remix)', ' feat. ' + west_text('en')])
    # Capitals, where Portuguese and Nordic letters look most like garbling.
    return west_text(rng.choice(['pt', 'da', 'sv', 'fr', 'de'])).upper()

print('\n[clean]\n@ | title | artist | album | comment')
hard = ['SÃO PAULO', 'São Paulo', 'æøå', 'ÆØÅ', 'Œuvre', 'Ελληνικά', 'Ñandú', 'Ça va', 'Ärger', 'MÃE',
        'IRMÃ', 'Amélie', 'Beyoncé', 'Café', 'Björk', 'Sigur Rós', 'Mötley Crüe', 'Motörhead', 'Hüsker Dü',
        'Queensrÿche', 'Ӧ', '日本', '夜明けの歌', 'Â', 'ÃO', '½', '¿Qué?', '¡Olé!', 'Ω', 'Œ']
for i, t in enumerate(hard, 1):
    print(row('H%d' % i, [t]))
for i in range(1, 11001):
    fields = tag(clean)
    print(row('C%d' % i, fields))
print('garbled %d, lost %d, clean %d' % (garbled_total, min(len(lost_rows), 600), 11000 + len(hard)), file=sys.stderr)
