// The tag record in the program's form: arbitrary bytes as a 652-byte wire
// record through fromWire/toWire, the reading rule and the proposed name.
//
// - fromWire then toWire gives every valid UTF-8 field back byte for byte;
// - TrimTagStr's result holds no NUL, has no trimmed character at either
//   end, stands in its argument, and trimming it again changes nothing;
// - ComposeNewName gives the marker, or a name ending in ".mp3" that holds
//   no rejected character and no marker.

#include "core/rename/newname.h"
#include "core/tags/taginfo.h"
#include "core/tags/vbmp3.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "tag record invariant broken: %s\n", what);
    std::abort();
}

bool trimmedEnd(QChar c) { return c == u' ' || c == QChar(0x3000); }

void checkTrim(const QString &text)
{
    const QString t = tags::TrimTagStr(text);
    if (t.contains(QChar(u'\0')) || !text.contains(t))
        fail("TrimTagStr: NUL left, or not a part of its argument");
    if (!t.isEmpty() && (trimmedEnd(t.front()) || trimmedEnd(t.back())))
        fail("TrimTagStr: blank left at an end");
    if (tags::TrimTagStr(t) != t)
        fail("TrimTagStr: not idempotent");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    mp3lib::TagInfoWire wire;
    std::memset(&wire, 0, sizeof wire);
    std::memcpy(&wire, data, std::min(size, sizeof wire));

    tags::TagInfo tag;
    tag.fromWire(wire);
    const mp3lib::TagInfoWire back = tag.toWire();

    struct Field {
        const char *in;
        const char *out;
        int width;
        const QString &text;
    };
    const Field fields[] = {
        {wire.TrackName, back.TrackName, 128, tag.TrackName},
        {wire.ArtistName, back.ArtistName, 128, tag.ArtistName},
        {wire.AlbumName, back.AlbumName, 128, tag.AlbumName},
        {wire.Year, back.Year, 5, tag.Year},
        {wire.Comment, back.Comment, 128, tag.Comment},
        {wire.GenreName, back.GenreName, 128, tag.GenreName},
    };
    for (const Field &f : fields) {
        if (f.text.size() != f.width)
            fail("a field of the program's form is not its width");
        if (QByteArrayView(f.in, f.width).isValidUtf8() && std::memcmp(f.in, f.out, f.width) != 0)
            fail("a valid UTF-8 field did not come back byte for byte");
        // Whatever came in, what goes out must be valid UTF-8.
        if (!QByteArrayView(f.out, f.width).isValidUtf8())
            fail("toWire wrote invalid UTF-8");
        checkTrim(f.text);
    }
    if (back.GenreNo != wire.GenreNo)
        fail("GenreNo changed");

    // Past the record: any text, from the rest of the input, as a singer.
    if (size > sizeof wire) {
        const QString extra = QString::fromUtf8(reinterpret_cast<const char *>(data) + sizeof wire,
                                                qsizetype(size - sizeof wire));
        checkTrim(extra);
        tag.ArtistName = extra;
    }

    const QString name = renaming::ComposeNewName(tag);
    if (name != renaming::kFilenameError) {
        if (!name.endsWith(QStringLiteral(".mp3")) || name.startsWith(u'*'))
            fail("ComposeNewName: not a marker, and not a name ending in .mp3");
        for (QChar c : name) {
            if (renaming::isRejectedNameChar(c))
                fail("ComposeNewName: rejected character in a name");
        }
        if (!renaming::isAcceptableName(name))
            fail("ComposeNewName: a name the rename would refuse");
    }
    return 0;
}
