// The one file of the core that includes TagLib (see taglibadapter.h).

#include "core/tags/taglibadapter.h"

#include "core/tags/blockstream.h"
#include "core/tags/fileaccess.h"

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/taglib.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/tiostream.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

static_assert(TAGLIB_MAJOR_VERSION == 1 && TAGLIB_MINOR_VERSION >= 13,
              "the ID3v2 byte layer and the block stream agree with TagLib 1.13 and later 1.x");

namespace mp3lib::detail {

namespace {

using TagLib::String;
namespace ID3v2 = TagLib::ID3v2;

QString fromTagLib(const String &text)
{
    return QString::fromWCharArray(text.toCWString(), static_cast<qsizetype>(text.size()));
}

String toTagLib(const QString &text)
{
    return String(text.toUtf8().toStdString(), String::UTF8);
}

TagLib::ByteVector toVector(const QByteArray &bytes)
{
    return TagLib::ByteVector(bytes.constData(), static_cast<unsigned>(bytes.size()));
}

QByteArray fromVector(const TagLib::ByteVector &bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// TagLib's IOStream over a BlockStream, read-only.
class BlockIOStream : public TagLib::IOStream {
public:
    explicit BlockIOStream(BlockStream &blocks) : blocks_(blocks) {}

    TagLib::FileName name() const override { return ""; }
    TagLib::ByteVector readBlock(unsigned long length) override
    {
        const long n = blocks_.available(length);
        if (n <= 0)
            return {};
        if (const char *p = blocks_.contiguous(n))
            return TagLib::ByteVector(p, static_cast<unsigned>(n));
        TagLib::ByteVector out(static_cast<unsigned>(n), '\0');
        out.resize(static_cast<unsigned>(blocks_.readInto(out.data(), n)));
        return out;
    }
    void writeBlock(const TagLib::ByteVector &) override {}
    void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return blocks_.isOpen(); }
    void seek(long offset, Position p = Beginning) override
    {
        blocks_.seek(offset, p == Beginning ? BlockStream::Beginning
                             : p == Current ? BlockStream::Current
                                            : BlockStream::End);
    }
    long tell() const override { return blocks_.tell(); }
    long length() override { return blocks_.length(); }
    void truncate(long) override {}

private:
    BlockStream &blocks_;
};

// A frame's text as the reader takes it: declared ISO-8859-1 as its bytes
// (one character each), Unicode as read.
QString fieldText(const String &text, bool latin1)
{
    if (!latin1)
        return fromTagLib(text);
    const std::string bytes = text.to8Bit(false);
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The text and comment frames of a tag TagLib has parsed, as the plain
// reader gives them.
TextFrames textFrames(const ID3v2::Tag &tag)
{
    TextFrames out;
    for (const ID3v2::Frame *frame : tag.frameList()) {
        TextFrame t;
        const TagLib::ByteVector id = frame->frameID();
        std::memcpy(t.id, id.data(), std::min<size_t>(id.size(), 4));
        if (const auto *text = dynamic_cast<const ID3v2::TextIdentificationFrame *>(frame)) {
            t.text = true;
            t.latin1 = text->textEncoding() == String::Latin1;
            for (const String &field : text->fieldList())
                t.fields << fieldText(field, t.latin1);
        } else if (const auto *c = dynamic_cast<const ID3v2::CommentsFrame *>(frame)) {
            t.comment = true;
            t.latin1 = c->textEncoding() == String::Latin1;
            t.described = !c->description().isEmpty();
            t.fields << fieldText(c->text(), t.latin1);
        }
        out.append(t);
    }
    return out;
}

String::Type typeOf(FrameText encoding)
{
    return encoding == FrameText::Utf16 ? String::UTF16 : String::Latin1;
}

} // namespace

QStringList taglibGenreNames()
{
    QStringList names;
    for (int n = 0; n < 255; ++n)
        names << fromTagLib(TagLib::ID3v1::genre(n));
    return names;
}

int taglibGenreIndex(const QString &name)
{
    const int n = TagLib::ID3v1::genreIndex(String(name.toStdWString()));
    return n >= 0 && n < 255 ? n : 255;
}

bool readTagsWithTagLib(FileReader &reader, const QByteArray &head, bool ownFileStream, TagLibTags &out)
{
    std::unique_ptr<TagLib::IOStream> stream;
    std::unique_ptr<BlockStream> blocks;
    if (head.isEmpty() && ownFileStream) {
        // TagLib's own reading, for comparisons.
        const int dupFd = ::fcntl(reader.fd(), F_DUPFD_CLOEXEC, 0);
        if (dupFd < 0)
            return false;
        auto fileStream = std::make_unique<TagLib::FileStream>(dupFd, true);
        if (!fileStream->isOpen()) {
            ::close(dupFd);
            return false;
        }
        stream = std::move(fileStream);
    } else {
        blocks = std::make_unique<BlockStream>(reader, head);
        stream = std::make_unique<BlockIOStream>(*blocks);
    }
    TagLib::MPEG::File file(stream.get(), ID3v2::FrameFactory::instance(), false);
    if (!file.isValid() || (blocks && blocks->failed()))
        return false;
    out.id3v2 = file.hasID3v2Tag();
    out.ape = file.hasAPETag();
    out.id3v1 = file.hasID3v1Tag();
    if (out.id3v2)
        out.frames = textFrames(*file.ID3v2Tag());
    if (out.ape) {
        TagLib::APE::Tag &ape = *file.APETag();
        out.apeTitle = fromTagLib(ape.title());
        out.apeArtist = fromTagLib(ape.artist());
        out.apeAlbum = fromTagLib(ape.album());
        const auto &items = ape.itemListMap();
        if (const auto it = items.find("YEAR"); it != items.end())
            out.apeYear = fromTagLib(it->second.toString());
        out.apeComment = fromTagLib(ape.comment());
        out.apeGenre = fromTagLib(ape.genre());
        if (const auto it = items.find("TRACK"); it != items.end())
            out.apeTrack = fromTagLib(it->second.toString()).trimmed();
    }
    return true;
}

bool taglibFindsApeTag(int fd, bool &ape)
{
    // TagLib opens paths only; the path of the descriptor reaches exactly
    // our file, whatever happened to its name.
    char pathBuffer[64];
    TagLib::FileStream stream(fdPath(fd, pathBuffer), true);
    TagLib::MPEG::File file(&stream, ID3v2::FrameFactory::instance(), false);
    if (!stream.isOpen() || !file.isValid())
        return false;
    ape = file.hasAPETag();
    return true;
}

QByteArray renderTextFrame(const QByteArray &id, const QString &text, FrameText encoding)
{
    ID3v2::TextIdentificationFrame frame(toVector(id.left(4)), typeOf(encoding));
    frame.setText(toTagLib(text));
    return fromVector(frame.render());
}

QByteArray renderCommentFrame(const QString &text, FrameText encoding, const QByteArray &language)
{
    ID3v2::CommentsFrame frame(typeOf(encoding));
    frame.setLanguage(toVector(language));
    frame.setText(toTagLib(text));
    return fromVector(frame.render());
}

bool isPlainCommentFrame(const QByteArray &frame, const QByteArray &tagHeader, QByteArray *language)
{
    ID3v2::Header header;
    header.setData(toVector(tagHeader));
    const std::unique_ptr<ID3v2::Frame> parsed(
        ID3v2::FrameFactory::instance()->createFrame(toVector(frame), &header));
    const auto *comment = dynamic_cast<const ID3v2::CommentsFrame *>(parsed.get());
    if (!comment || !comment->description().isEmpty())
        return false;
    if (language)
        *language = fromVector(comment->language());
    return true;
}

} // namespace mp3lib::detail
