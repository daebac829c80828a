// vbmp3_setTagInfo: writes the six fields of a record into every tag of an
// MP3 file, so that whatever happens (a full disk, a kill, a failing disk)
// the file is either as it was or completely written.
//
// Two ways of writing:
// - In place, when the file has an ID3v2 tag at its start and the new tag,
//   rendered, has exactly the old tag's size (its padding absorbs the
//   change): only tag bytes are overwritten, the audio is never touched.
//   A failed write or check puts the old bytes back.
// - Through a copy otherwise (TagLib would move all audio in place, and a
//   kill half-way loses audio): a hidden copy in the same folder gets the
//   new tags, is checked (audio bytes equal to the original's, the fields
//   read back), flushed, and renamed over the file in one step.

#include "vbmp3.h"

#include "fileaccess.h"
#include "write_files.h"
#include "write_tags.h"

#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tfilestream.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mp3lib::detail;

namespace {

constexpr std::int64_t kId3v1Size = 128;

// The file as it is before the write.
struct Original {
    int fd = -1;
    struct stat st {};
    AudioSpan audio;
    bool hasId3v1 = false;
    int track = 0;           // the ID3v1.1 track byte, kept
    bool hasApe = false;
    bool v4 = false;         // an ID3v2.4 tag stays 2.4; everything else is written as 2.3
    QByteArray inPlaceId3v2; // the new ID3v2 tag when it fits the old one's space
};

// TagLib over a file we hold open. TagLib opens paths only; the path of the
// descriptor reaches exactly our file, whatever happened to its name.
struct TagLibFile {
    char pathBuffer[64];
    TagLib::FileStream stream;
    TagLib::MPEG::File file;

    TagLibFile(int fd, bool readOnly)
        : stream(fdPath(fd, pathBuffer), readOnly),
          file(&stream, TagLib::ID3v2::FrameFactory::instance(), false)
    {
    }
    bool valid() const { return stream.isOpen() && file.isValid(); }
};

TagLib::ID3v2::Version versionOf(const Original &o)
{
    return o.v4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Reads what the write needs to know of the original, and renders the new
// ID3v2 tag to see whether it fits the old one's space.
bool examine(Original &o, const TagFields &fields)
{
    TagLibFile t(o.fd, true);
    if (!t.valid())
        return false;
    o.hasId3v1 = t.file.hasID3v1Tag();
    o.track = o.hasId3v1 ? static_cast<int>(t.file.ID3v1Tag()->track()) : 0;
    o.hasApe = t.file.hasAPETag();
    if (!t.file.hasID3v2Tag())
        return true;
    TagLib::ID3v2::Tag *tag = t.file.ID3v2Tag();
    o.v4 = tag->header()->majorVersion() == 4;

    const std::int64_t oldSize = tag->header()->completeTagSize();
    if (o.hasApe || readAt(o.fd, 0, 3) != "ID3" || oldSize > o.audio.begin)
        return true;
    applyFields(t.file, fields, o.v4);
    if (tag->isEmpty())
        return true;   // the tag goes away: the file shrinks
    const TagLib::ByteVector rendered = tag->render(versionOf(o));
    if (static_cast<std::int64_t>(rendered.size()) == oldSize)
        o.inPlaceId3v2 = QByteArray(rendered.data(), rendered.size());
    return true;
}

// Whether the written file `fd` holds the fields in every tag, the ID3v1
// tag `id3v1` at its end, and as much audio as the original; `audio` gets
// where that audio lies, for the caller to compare its bytes.
bool holdsFields(int fd, const Original &o, const TagFields &fields, const QByteArray &id3v1,
                 AudioSpan *audio)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size < kId3v1Size
        || readAt(fd, st.st_size - kId3v1Size, kId3v1Size) != id3v1)
        return false;
    if (!id3v2IsSafe(fd))
        return false;
    *audio = findMpegAudio(fd);
    if (!audio->found || audio->end - audio->begin != o.audio.end - o.audio.begin)
        return false;
    TagLibFile t(fd, true);
    if (!t.valid() || !t.file.hasID3v1Tag() || t.file.hasAPETag() != o.hasApe)
        return false;
    if (!id3v2Holds(t.file.hasID3v2Tag() ? t.file.ID3v2Tag() : nullptr, fields))
        return false;
    if (t.file.hasID3v2Tag()
        && t.file.ID3v2Tag()->header()->majorVersion() != (o.v4 ? 4u : 3u))
        return false;
    return !o.hasApe || apeHolds(*t.file.APETag(), fields);
}

bool writeInPlace(const Original &o, const TagFields &fields)
{
    const std::int64_t size = o.st.st_size;
    const std::int64_t id3v1At = o.hasId3v1 ? size - kId3v1Size : size;
    if (id3v1At < o.audio.end)
        return false;
    const QByteArray id3v1 = renderId3v1(fields, o.track);
    const QByteArray oldId3v2 = readAt(o.fd, 0, o.inPlaceId3v2.size());
    const QByteArray oldId3v1 = o.hasId3v1 ? readAt(o.fd, id3v1At, kId3v1Size) : QByteArray();
    if (oldId3v2.size() != o.inPlaceId3v2.size() || (o.hasId3v1 && oldId3v1.isEmpty()))
        return false;

    // The ID3v1 tag first: appending it is the one step that needs space.
    AudioSpan audio;
    if (writeAt(o.fd, id3v1At, id3v1) && writeAt(o.fd, 0, o.inPlaceId3v2) && ::fsync(o.fd) == 0
        && readAt(o.fd, 0, o.inPlaceId3v2.size()) == o.inPlaceId3v2
        && holdsFields(o.fd, o, fields, id3v1, &audio) && audio.begin == o.audio.begin)
        return true;

    // Put the old tag bytes back; they overwrite bytes that exist already.
    writeAt(o.fd, 0, oldId3v2);
    if (::ftruncate(o.fd, size) == 0 && o.hasId3v1)
        writeAt(o.fd, id3v1At, oldId3v1);
    ::fsync(o.fd);
    return false;
}

bool writeThroughCopy(const Original &o, const TagFields &fields, const Fd &dir,
                      const QByteArray &base)
{
    // The name must still be the file we hold: the rename replaces a name.
    struct stat named;
    if (!dir.valid() || ::fstatat(dir.get(), base.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || !sameFile(named, o.st))
        return false;

    ReplacementCopy copy;
    if (!copy.create(dir.get(), base) || !copyContents(o.fd, copy.fd(), o.st.st_size))
        return false;
    {
        TagLibFile t(copy.fd(), false);
        if (!t.valid())
            return false;
        applyFields(t.file, fields, o.v4);
        const int tags = TagLib::MPEG::File::ID3v2 | (o.hasApe ? TagLib::MPEG::File::APE : 0);
        // The ID3v1 tag is written below: TagLib can neither keep a year
        // that is not a number nor cut legacy text at a character boundary.
        if (!t.file.save(tags, TagLib::File::StripNone, versionOf(o), TagLib::File::DoNotDuplicate))
            return false;
    }
    struct stat st;
    if (::fstat(copy.fd(), &st) != 0)
        return false;
    const QByteArray id3v1 = renderId3v1(fields, o.track);
    const std::int64_t id3v1At = o.hasId3v1 ? st.st_size - kId3v1Size : st.st_size;
    if (id3v1At < 0 || !writeAt(copy.fd(), id3v1At, id3v1))
        return false;

    // The owner where we may (as root, or a group we belong to), then the
    // permission bits (changing the owner clears set-id bits).
    if (::fchown(copy.fd(), o.st.st_uid, o.st.st_gid) != 0)
        (void)::fchown(copy.fd(), static_cast<uid_t>(-1), o.st.st_gid);
    if (::fchmod(copy.fd(), o.st.st_mode & 07777) != 0)
        return false;

    // TagLib reports success even when a write failed (a full disk): what
    // reached the disk is checked, not what TagLib says.
    AudioSpan audio;
    if (::fsync(copy.fd()) != 0 || !holdsFields(copy.fd(), o, fields, id3v1, &audio)
        || !sameBytes(o.fd, o.audio.begin, copy.fd(), audio.begin, audio.end - audio.begin))
        return false;

    if (::fstatat(dir.get(), base.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || !sameFile(named, o.st))
        return false;
    return copy.replace(base);
}

} // namespace

std::int16_t vbmp3_setTagInfo(const char *path, mp3lib::TagInfoWire &tag, std::int32_t,
                              std::int32_t)
{
    if (!path || !*path)
        return 0;
    const TagFields fields = TagFields::fromWire(tag);

    // Opening for writing is the permission check: a read-only file is
    // refused, even though a copy could be renamed over it.
    Original o;
    const Fd fd = openRegularFile(path, O_RDWR);
    if (!fd.valid() || ::fstat(fd.get(), &o.st) != 0)
        return 0;
    o.fd = fd.get();
    // One writer per file at a time; another holding it means failure, not
    // waiting (the caller is the user interface). A file system without
    // locks does not stop the write.
    const bool locked = ::flock(o.fd, LOCK_EX | LOCK_NB) == 0;
    if (!locked && errno == EWOULDBLOCK)
        return 0;

    // The file behind the path, links followed: a link stays a link and its
    // target gets the new tag. It must still be the file we opened.
    char resolved[PATH_MAX];
    struct stat named;
    if (!::realpath(path, resolved) || ::stat(resolved, &named) != 0 || !sameFile(named, o.st))
        return 0;

    // Never write what TagLib mishandles, nor a file without MPEG audio.
    if (!id3v2IsSafe(o.fd))
        return 0;
    o.audio = findMpegAudio(o.fd);
    if (!o.audio.found)
        return 0;

    // Copies a killed write left behind go now: holding the lock, no write
    // of this file is under way. (A folder we cannot open fails the copy
    // route only; writing in place needs no folder.)
    QByteArray base;
    const Fd dir = openParentFolder(resolved, &base);
    if (dir.valid() && locked)
        removeLeftCopies(dir.get(), base);

    if (!examine(o, fields))
        return 0;
    const bool written = o.inPlaceId3v2.isEmpty() ? writeThroughCopy(o, fields, dir, base)
                                                  : writeInPlace(o, fields);
    return written ? 1 : 0;
}
