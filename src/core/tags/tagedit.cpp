#include "core/tags/tagedit.h"

#include "core/tags/existence.h"
#include "core/tags/fieldread.h"
#include "core/tags/tagrewrite.h"
#include "core/tags/vbmp3.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tags {

namespace {

bool sameFileState(const struct stat &a, const struct stat &b)
{
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec
           && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec
           && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

} // namespace

QString writeFailureReason(const QByteArray &path)
{
    struct stat st;
    if (::access(path.constData(), W_OK) != 0)
        return systemError(errno);
    if (::stat(path.constData(), &st) == 0 && (st.st_mode & 0222) == 0)
        return QStringLiteral("the file is read-only");
    return QStringLiteral("the tag was not written (no MPEG audio, a tag this program does not "
                          "rewrite, or the file is in use)");
}

namespace {

WriteResult writeRecordRewriting(const QByteArray &path, TagInfo &tag, const mp3lib::RewriteFields &rewrite)
{
    mp3lib::TagInfoWire wire = tag.toWire();
    struct stat before, after;
    const bool known = ::stat(path.constData(), &before) == 0;
    const bool written = mp3lib::setTagInfoRewriting(path.constData(), wire, rewrite) != 0;
    tag.fromWire(wire);
    if (!written)
        return {WriteResult::Failed, writeFailureReason(path)};
    return {known && ::stat(path.constData(), &after) == 0 && sameFileState(before, after)
                ? WriteResult::Unchanged
                : WriteResult::Written,
            {}};
}

} // namespace

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString missingReason(const QByteArray &path)
{
    struct stat st;
    if (path.isEmpty())
        return systemError(ENOENT);
    if (::stat(path.constData(), &st) != 0)
        return systemError(errno);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("not a regular file");
    return QStringLiteral("a hidden file");
}

std::optional<GenreEntry> genreEntry(const QString &given)
{
    const QString wanted = given.trimmed();
    bool isNumber = false;
    const int number = wanted.toInt(&isNumber);
    for (const GenreEntry &g : genreList()) {
        if (isNumber ? g.GenreNo == number : g.GenreName.compare(wanted, Qt::CaseInsensitive) == 0)
            return g;
    }
    return std::nullopt;
}

WriteResult writeFields(const QByteArray &path, const FieldChanges &changes)
{
    if (!fileExists(path))
        return {WriteResult::Failed, missingReason(path)};
    TagFieldTexts texts;
    GenreEntry oldGenre;
    if (const FileFields read = readFields(path); read.outcome == FileFields::Read) {
        texts = shownTexts(read);
        oldGenre = shownGenre(read);
    }
    texts.TrackName = changes.title.value_or(texts.TrackName);
    texts.ArtistName = changes.artist.value_or(texts.ArtistName);
    texts.AlbumName = changes.album.value_or(texts.AlbumName);
    texts.Year = changes.year.value_or(texts.Year);
    texts.Comment = changes.comment.value_or(texts.Comment);
    TagInfo tag = recordForUpdate(texts, changes.genre.value_or(oldGenre));
    const bool r = changes.rewrite;
    return writeRecordRewriting(path, tag, {r && changes.title, r && changes.artist, r && changes.album,
                                            r && changes.year, r && changes.comment});
}

WriteResult writeRecord(const QByteArray &path, TagInfo &tag)
{
    return writeRecordRewriting(path, tag, {});
}

} // namespace tags
