// vbmp3_setTagInfo: writes the fields of a record that differ from what the
// file holds now into every tag of an MP3 file, leaving every other byte as
// it was, so that whatever happens (a full disk, a kill, a power cut) the
// file is either as it was or completely written.
//
// The new file is planned in memory first: the ID3v2 tag with only the
// frames of the changed fields replaced (every other frame keeps its bytes),
// the ID3v1 tag with only the changed fields replaced. Then one of two ways:
// - In place, when the new file has the old one's size and every byte that
//   differs lies in one page: one pwrite of that range. A kill stops a
//   write only between pages, so it lands whole or not at all.
// - Through a copy otherwise: a hidden copy in the same folder gets the new
//   bytes, is checked (audio bytes equal to the original's, the fields read
//   back), flushed, and renamed over the file in one step.

#include "core/tags/vbmp3.h"

#include "core/tags/fileaccess.h"
#include "core/id3v2/id3v2guard.h"
#include "core/id3v2/id3v2frames.h"
#include "core/tags/tagrecord.h"
#include "core/tags/tagrewrite.h"
#include "core/tags/taglibadapter.h"
#include "core/tags/textcodec.h"
#include "core/tags/write_files.h"
#include "core/tags/write_tags.h"

#include <algorithm>
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
constexpr std::int64_t kPage = 4096;

using Changes = std::array<bool, kFieldCount>;

// The file as it is before the write, and the bytes planned for it.
struct Write {
    int fd = -1;
    struct stat st {};
    AudioSpan audio;
    TagFields fields;           // what is written: the record's changed fields, the file's others
    Changes changed{};

    std::int64_t tagEnd = 0;    // the old ID3v2 tag(s) end here; 0 without one
    QByteArray tag;             // the new ID3v2 tag, standing for [0, tagEnd)
    QByteArray oldId3v1;        // empty without one
    QByteArray id3v1;           // the new ID3v1 tag
    std::int64_t apeAt = 0;     // the APE tag begins here; tailEnd() without one
    QByteArray oldApe, ape;     // the APE tag before and after; empty without one

    std::int64_t tailEnd() const { return st.st_size - oldId3v1.size(); }
    std::int64_t newApeAt() const { return tag.size() + (apeAt - tagEnd); }
    std::int64_t newSize() const { return newApeAt() + ape.size() + kId3v1Size; }
};

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The new tags, in memory. False where the file's ID3v2 tag cannot be kept
// whole, or where something other than a tag stands before the audio that
// TagLib would take for one.
bool plan(Write &w)
{
    const QByteArray head = readAt(w.fd, 0, w.audio.begin);
    if (head.size() != w.audio.begin)
        return false;
    RawTags tags;
    switch (parseTags(head, tags)) {
    case TagParse::Unsupported:
        return false;
    case TagParse::None:
        if (head.contains("ID3"))
            return false;
        break;
    case TagParse::Parsed:
        w.tagEnd = tags.end;
        if (head.indexOf("ID3", tags.end) >= 0)
            return false;
        break;
    }
    if (w.st.st_size >= kId3v1Size && w.st.st_size - kId3v1Size >= w.audio.end) {
        const QByteArray last = readAt(w.fd, w.st.st_size - kId3v1Size, kId3v1Size);
        if (last.startsWith("TAG"))
            w.oldId3v1 = last;
    }
    w.id3v1 = id3v1With(w.oldId3v1, w.fields, w.changed);

    // A tag made anew holds every field the file has, not only the changed
    // ones: other programs read ID3v2 first, and would no longer see what
    // they read from ID3v1 or APE before.
    const bool hadTag = w.tagEnd > 0;
    Changes frames = w.changed;
    if (!hadTag)
        frames.fill(true);
    setFrames(tags, w.fields, frames);
    const bool v11 = !w.oldId3v1.isEmpty() && w.oldId3v1[125] == '\0' && w.oldId3v1[126] != '\0';
    if (!hadTag && v11)
        addTrackFrame(tags, quint8(w.oldId3v1[126]));
    if (hadTag || !tags.frames.isEmpty()) {
        w.tag = tags.render(w.tagEnd);
        if (w.tag.isEmpty())
            return false;
    }

    // The APE tag lies between the audio and the ID3v1 tag, where TagLib
    // finds it too; its untouched items keep their bytes.
    bool ape = false;
    if (!taglibFindsApeTag(w.fd, ape))
        return false;
    w.apeAt = w.tailEnd();
    if (ape) {
        w.apeAt = w.audio.end;
        w.oldApe = readAt(w.fd, w.apeAt, w.tailEnd() - w.apeAt);
        w.ape = apeWith(w.oldApe, w.fields, w.changed);
        if (w.ape.isEmpty() || w.apeAt < w.tagEnd)
            return false;
    }
    return true;
}

// Whether the file `fd` holds the planned bytes, the original's audio, and
// the changed fields when read back.
bool holdsPlan(int fd, const Write &w)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size != w.newSize() || readAt(fd, 0, w.tag.size()) != w.tag
        || readAt(fd, w.newApeAt(), w.ape.size()) != w.ape
        || readAt(fd, st.st_size - kId3v1Size, kId3v1Size) != w.id3v1)
        return false;
    // The audio is where the new tag puts it, as long as before, and each of
    // its bytes as it was.
    const std::int64_t shift = w.tag.size() - w.tagEnd;
    const AudioSpan audio = findMpegAudio(fd);
    if (!audio.found || audio.begin != w.audio.begin + shift
        || audio.end - audio.begin != w.audio.end - w.audio.begin
        || !sameBytes(w.fd, w.audio.begin, fd, audio.begin, audio.end - audio.begin))
        return false;
    mp3lib::TagInfoWire back{};
    return readTagRecord(fd, back) && holdsChangedFields(TagFields::fromWire(back), w.fields, w.changed);
}

// The range of bytes that differ between the file and the plan, when the
// file keeps its size; false when more than one page would change.
bool differenceInOnePage(const Write &w, std::int64_t *from, QByteArray *bytes)
{
    if (w.ape != w.oldApe || w.tag.size() != w.tagEnd || w.oldId3v1.isEmpty())
        return false;
    std::int64_t first = -1, last = -1;
    const QByteArray oldTag = readAt(w.fd, 0, w.tagEnd);
    if (oldTag.size() != w.tagEnd)
        return false;
    const auto note = [&](const QByteArray &was, const QByteArray &now, std::int64_t at) {
        for (qsizetype i = 0; i < now.size(); ++i) {
            if (was[i] != now[i]) {
                if (first < 0)
                    first = at + i;
                last = at + i;
            }
        }
    };
    note(oldTag, w.tag, 0);
    note(w.oldId3v1, w.id3v1, w.st.st_size - kId3v1Size);
    if (first < 0) {
        *from = 0;
        bytes->clear();
        return true;
    }
    // One page, and one of the two tags: a small file may hold both in one
    // page, with the audio between them left as it is.
    if (first / kPage != last / kPage || (first < w.tagEnd && last >= w.tagEnd))
        return false;
    *from = first;
    *bytes = first < w.tagEnd ? w.tag.mid(first, last - first + 1)
                              : w.id3v1.mid(first - (w.st.st_size - kId3v1Size), last - first + 1);
    return true;
}

bool writeInPlace(const Write &w, std::int64_t at, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return true;
    const QByteArray old = readAt(w.fd, at, bytes.size());
    if (old.size() != bytes.size())
        return false;
    if (writeAt(w.fd, at, bytes) && ::fsync(w.fd) == 0 && holdsPlan(w.fd, w))
        return true;
    // Put the old bytes back: they overwrite bytes that exist already.
    writeAt(w.fd, at, old);
    ::fsync(w.fd);
    return false;
}

bool writeThroughCopy(const Write &w, const Fd &dir, const QByteArray &base)
{
    // The name must still be the file we hold: the rename replaces a name.
    struct stat named;
    if (!dir.valid() || ::fstatat(dir.get(), base.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || !sameFile(named, w.st))
        return false;

    ReplacementCopy copy;
    if (!copy.create(dir.get(), base) || !writeAt(copy.fd(), 0, w.tag))
        return false;
    // Everything after the old tag up to the APE tag (the audio), the APE
    // tag, the ID3v1 tag.
    if (!copyRange(w.fd, w.tagEnd, copy.fd(), w.tag.size(), w.apeAt - w.tagEnd)
        || !writeAt(copy.fd(), w.newApeAt(), w.ape)
        || !writeAt(copy.fd(), w.newApeAt() + w.ape.size(), w.id3v1))
        return false;

    // The owner where we may (as root, or a group we belong to), then the
    // permission bits (changing the owner clears set-id bits).
    if (::fchown(copy.fd(), w.st.st_uid, w.st.st_gid) != 0)
        (void)::fchown(copy.fd(), static_cast<uid_t>(-1), w.st.st_gid);
    if (::fchmod(copy.fd(), w.st.st_mode & 07777) != 0)
        return false;

    // What reached the disk is checked, not what the calls said.
    if (::fsync(copy.fd()) != 0 || !holdsPlan(copy.fd(), w))
        return false;
    return copy.replace(base, w.st);
}

std::int16_t setTagInfo(const char *path, const TagFields &wanted, const mp3lib::RewriteFields &rewrite = {})
{
    // Opening for writing is the permission check, and a file no one may
    // write is read-only also for root: a copy could be renamed over it,
    // but its owner said no.
    Write w;
    const Fd fd = openRegularFile(path, O_RDWR);
    if (!fd.valid() || ::fstat(fd.get(), &w.st) != 0 || (w.st.st_mode & 0222) == 0)
        return 0;
    w.fd = fd.get();
    // One writer per file at a time; another holding it means failure, not
    // waiting (the caller is the user interface). A file system without
    // locks does not stop the write.
    if (::flock(w.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return 0;

    // The file behind the path, links followed: a link stays a link and its
    // target gets the new tag. It must still be the file we opened.
    char resolved[PATH_MAX];
    struct stat named;
    if (!::realpath(path, resolved) || ::stat(resolved, &named) != 0 || !sameFile(named, w.st))
        return 0;

    // Never write what TagLib mishandles, nor a file without MPEG audio.
    w.audio = findMpegAudio(w.fd);
    if (!w.audio.found || !id3v2IsSafe(w.fd))
        return 0;

    // Only what differs from the file's tag now is written; a file without
    // a readable tag holds empty fields.
    mp3lib::TagInfoWire now{};
    now.GenreNo = 255;
    const TagFields none = TagFields::fromWire(now);
    TagFields before = readTagRecord(w.fd, now) ? TagFields::fromWire(now) : none;
    if (before.genre.isEmpty())
        before.genre = wireText(now.GenreName, sizeof now.GenreName);   // a genre of its own
    w.changed = changedFields(wanted, before);
    // A field to rewrite gets new frames even where its text reads the same.
    for (int i = 0; i < Genre; ++i)
        w.changed[i] = w.changed[i] || rewrite[i];
    if (std::find(w.changed.begin(), w.changed.end(), true) == w.changed.end())
        return 1;
    w.fields = before;
    for (int i = 0; i < Genre; ++i) {
        if (w.changed[i])
            w.fields.text[i] = wanted.text[i];
    }
    if (w.changed[Genre]) {
        w.fields.genreNo = wanted.genreNo;
        w.fields.genre = wanted.genre;
    }
    if (!plan(w))
        return 0;

    std::int64_t at = 0;
    QByteArray bytes;
    if (differenceInOnePage(w, &at, &bytes))
        return writeInPlace(w, at, bytes) ? 1 : 0;
    QByteArray base;
    const Fd dir = openParentFolder(resolved, &base);
    return writeThroughCopy(w, dir, base) ? 1 : 0;
}

} // namespace

std::int16_t vbmp3_setTagInfo(const char *path, mp3lib::TagInfoWire &tag, std::int32_t,
                              std::int32_t)
{
    if (!path || !*path)
        return 0;
    try {
        return setTagInfo(path, TagFields::fromWire(tag));
    } catch (...) {
        // Out of memory inside TagLib or Qt: a failed write, the file as it was.
        return 0;
    }
}

std::int16_t mp3lib::setTagInfoRewriting(const char *path, TagInfoWire &tag, const RewriteFields &rewrite)
{
    if (!path || !*path)
        return 0;
    try {
        return setTagInfo(path, TagFields::fromWire(tag), rewrite);
    } catch (...) {
        return 0;
    }
}
