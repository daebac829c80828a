#include "write_tags.h"

#include "textcodec.h"

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2synchdata.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/unknownframe.h>

#include <initializer_list>
#include <vector>

namespace mp3lib::detail {

using TagLib::ByteVector;
using TagLib::String;
namespace ID3v2 = TagLib::ID3v2;

namespace {

String toTagLib(const QString &text)
{
    return String(text.toUtf8().toStdString(), String::UTF8);
}

// ISO-8859-1 only for plain ASCII. Text marked ISO-8859-1 is read as CP932
// or Windows-1252 by what it looks like, and a short text can look like
// either, so other text goes out as UTF-16, which says what it is.
String::Type encodingFor(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return String::UTF16;
    }
    return String::Latin1;
}

// TagLib keeps ID3v2.3's TYER (and TDAT, TIME) as one TDRC frame once read;
// all of them belong to the year.
constexpr std::initializer_list<const char *> kYearFrames = {"TDRC", "TYER", "TDAT", "TIME",
                                                              "TRDA"};

// The frames `id` (all frames for null), as plain pointers, to go through
// while frames are removed. A copy of TagLib's own list would not do: the
// tag's list owns its frames, and a copy that shares it takes that ownership
// with it once the tag's list changes.
std::vector<ID3v2::Frame *> framesOf(const ID3v2::Tag &tag, const char *id)
{
    const ID3v2::FrameList &frames = id ? tag.frameList(ByteVector(id)) : tag.frameList();
    return std::vector<ID3v2::Frame *>(frames.begin(), frames.end());
}

void setTextFrame(ID3v2::Tag &tag, const char *id, const QString &text,
                  String::Type encoding)
{
    tag.removeFrames(ByteVector(id));
    if (text.isEmpty())
        return;
    auto *frame = new ID3v2::TextIdentificationFrame(ByteVector(id), encoding);
    frame->setText(toTagLib(text));
    tag.addFrame(frame);
}

// The comment is the COMM frame without a description. Frames with one
// (iTunNORM, iTunSMPB and the like carry player data) are not the comment
// and stay as they are.
void setComment(ID3v2::Tag &tag, const QString &text)
{
    ByteVector language("eng");
    bool languageKept = false;
    for (ID3v2::Frame *frame : framesOf(tag, "COMM")) {
        auto *comment = dynamic_cast<ID3v2::CommentsFrame *>(frame);
        if (!comment || !comment->description().isEmpty())
            continue;
        if (!languageKept && comment->language().size() == 3) {
            language = comment->language();
            languageKept = true;
        }
        tag.removeFrame(comment);
    }
    if (text.isEmpty())
        return;
    auto *comment = new ID3v2::CommentsFrame(encodingFor(text));
    comment->setLanguage(language);
    comment->setText(toTagLib(text));
    tag.addFrame(comment);
}

// TagLib reads ID3v2.3's RVAD (relative volume, which carries replay gain),
// EQUA and TSIZ as frames to drop once the tag changes, since ID3v2.4 has no
// such frames. Written back as ID3v2.3 they are as valid as before: each is
// made again from its bytes as a frame TagLib keeps.
void keepDroppedV23Frames(ID3v2::Tag &tag)
{
    if (tag.header()->majorVersion() != 3)
        return;
    ID3v2::Header v24Header;
    v24Header.setMajorVersion(4);
    for (ID3v2::Frame *frame : framesOf(tag, nullptr)) {
        const ByteVector id = frame->frameID();
        auto *unknown = dynamic_cast<ID3v2::UnknownFrame *>(frame);
        if (!unknown || (id != "RVAD" && id != "EQUA" && id != "TSIZ"))
            continue;
        const ByteVector payload = unknown->data();
        ByteVector bytes = id;
        bytes.append(ID3v2::SynchData::fromUInt(payload.size()));
        bytes.append(ByteVector(2, '\0'));
        bytes.append(payload);
        ID3v2::Frame *kept = ID3v2::FrameFactory::instance()->createFrame(bytes, &v24Header);
        if (!kept)
            continue;
        tag.removeFrame(frame);
        tag.addFrame(kept);
    }
}

void applyToId3v2(ID3v2::Tag &tag, const TagFields &f, bool v4)
{
    keepDroppedV23Frames(tag);
    setTextFrame(tag, "TIT2", f.title, encodingFor(f.title));
    setTextFrame(tag, "TPE1", f.artist, encodingFor(f.artist));
    setTextFrame(tag, "TALB", f.album, encodingFor(f.album));
    for (const char *id : kYearFrames)
        tag.removeFrames(ByteVector(id));
    // TagLib's own year goes through a number, and when it writes ID3v2.3 it
    // drops a TDRC shorter than four characters: the frame of the version
    // being written is set directly, with the text as typed.
    setTextFrame(tag, v4 ? "TDRC" : "TYER", f.year, encodingFor(f.year));
    // Without a recording time the year is read from the release time, else
    // the original release time: a year cleared goes from those too, or it
    // would come back from them.
    if (f.year.isEmpty()) {
        tag.removeFrames("TDRL");
        tag.removeFrames("TDOR");
    }
    setComment(tag, f.comment);
    setTextFrame(tag, "TCON", f.genre, String::Latin1);
}

void applyToApe(TagLib::APE::Tag &ape, const TagFields &f)
{
    // addValue with replace removes the item first and adds nothing for an
    // empty value.
    ape.addValue("TITLE", toTagLib(f.title), true);
    ape.addValue("ARTIST", toTagLib(f.artist), true);
    ape.addValue("ALBUM", toTagLib(f.album), true);
    ape.addValue("YEAR", toTagLib(f.year), true);
    ape.addValue("COMMENT", toTagLib(f.comment), true);
    ape.addValue("GENRE", toTagLib(f.genre), true);
}

QByteArray legacyField(const QString &text, int width)
{
    QByteArray bytes = encodeLegacy(text, width).left(width);
    bytes.append(QByteArray(width - bytes.size(), '\0'));
    return bytes;
}

// Whether the tag holds `expected` in exactly one frame `id`, or no such
// frame when `expected` is empty.
bool frameHolds(const ID3v2::Tag *tag, const char *id, const String &expected)
{
    if (!tag)
        return expected.isEmpty();
    const ID3v2::FrameList &frames = tag->frameList(ByteVector(id));
    if (frames.isEmpty())
        return expected.isEmpty();
    return frames.size() == 1 && !expected.isEmpty() && frames.front()->toString() == expected;
}

bool commentHolds(const ID3v2::Tag *tag, const String &expected)
{
    if (!tag)
        return expected.isEmpty();
    const ID3v2::CommentsFrame *found = nullptr;
    for (ID3v2::Frame *frame : tag->frameList("COMM")) {
        auto *comment = dynamic_cast<ID3v2::CommentsFrame *>(frame);
        if (!comment || !comment->description().isEmpty())
            continue;
        if (found)
            return false;
        found = comment;
    }
    return found ? !expected.isEmpty() && found->text() == expected : expected.isEmpty();
}

String apeText(const TagLib::APE::Tag &ape, const char *key)
{
    const auto &items = ape.itemListMap();
    const auto it = items.find(String(key));
    return it == items.end() ? String() : it->second.toString();
}

} // namespace

TagFields TagFields::fromWire(const TagInfoWire &wire)
{
    TagFields f;
    f.title = wireText(wire.TrackName, sizeof wire.TrackName);
    f.artist = wireText(wire.ArtistName, sizeof wire.ArtistName);
    f.album = wireText(wire.AlbumName, sizeof wire.AlbumName);
    f.year = wireText(wire.Year, sizeof wire.Year);
    f.comment = wireText(wire.Comment, sizeof wire.Comment);
    const String name = TagLib::ID3v1::genre(wire.GenreNo);
    if (!name.isEmpty()) {
        f.genre = QString::fromStdString(name.to8Bit(true));
        f.genreByte = wire.GenreNo;
    }
    return f;
}

void applyFields(TagLib::MPEG::File &file, const TagFields &fields, bool v4)
{
    applyToId3v2(*file.ID3v2Tag(true), fields, v4);
    if (file.hasAPETag())
        applyToApe(*file.APETag(), fields);
}

QByteArray renderId3v1(const TagFields &f, int track)
{
    QByteArray tag("TAG");
    tag += legacyField(f.title, 30);
    tag += legacyField(f.artist, 30);
    tag += legacyField(f.album, 30);
    tag += legacyField(f.year, 4);
    if (track >= 1 && track <= 255) {
        tag += legacyField(f.comment, 28);
        tag += '\0';
        tag += static_cast<char>(track);
    } else {
        tag += legacyField(f.comment, 30);
    }
    tag += static_cast<char>(f.genreByte);
    return tag;
}

bool id3v2Holds(const ID3v2::Tag *tag, const TagFields &f)
{
    // Read back, ID3v2.3's TYER is TDRC, as in applyToId3v2.
    return frameHolds(tag, "TIT2", toTagLib(f.title))
           && frameHolds(tag, "TPE1", toTagLib(f.artist))
           && frameHolds(tag, "TALB", toTagLib(f.album))
           && frameHolds(tag, "TDRC", toTagLib(f.year))
           && commentHolds(tag, toTagLib(f.comment))
           && frameHolds(tag, "TCON", toTagLib(f.genre));
}

bool apeHolds(const TagLib::APE::Tag &ape, const TagFields &f)
{
    return apeText(ape, "TITLE") == toTagLib(f.title)
           && apeText(ape, "ARTIST") == toTagLib(f.artist)
           && apeText(ape, "ALBUM") == toTagLib(f.album)
           && apeText(ape, "YEAR") == toTagLib(f.year)
           && apeText(ape, "COMMENT") == toTagLib(f.comment)
           && apeText(ape, "GENRE") == toTagLib(f.genre);
}

} // namespace mp3lib::detail
