#include "core/batch/batchedit.h"

#include "core/tags/tagfields.h"
#include "core/tags/fieldread.h"

namespace batch {

namespace {

bool sameGenre(const tags::GenreEntry &a, const tags::GenreEntry &b)
{
    return a.GenreNo == b.GenreNo && a.GenreName == b.GenreName;
}

// Keeps `shared` only while `value` equals it.
template <typename T, typename Same>
void narrow(std::optional<T> &shared, const T &value, Same same)
{
    if (shared && !same(*shared, value))
        shared.reset();
}

// `shown` when it holds a value other than `start`'s.
template <typename T, typename Same>
std::optional<T> changed(const std::optional<T> &start, const std::optional<T> &shown, Same same)
{
    if (!shown || (start && same(*start, *shown)))
        return std::nullopt;
    return shown;
}

const auto sameText = [](const QString &a, const QString &b) { return a == b; };

} // namespace

std::optional<FieldValues> sharedFields(const QList<QByteArray> &paths, ReadProgress *progress)
{
    std::optional<FieldValues> shared;
    for (const QByteArray &path : paths) {
        if (progress) {
            if (progress->cancel.load())
                return std::nullopt;
            progress->current.set(path);
        }
        const tags::FileFields read = tags::readFields(path);
        if (read.outcome != tags::FileFields::NotFound) {
            tags::TagFieldTexts texts;
            tags::GenreEntry genre;
            if (read.outcome == tags::FileFields::Read) {
                texts = tags::shownTexts(read);
                genre = tags::shownGenre(read);
            }
            if (!shared) {
                shared = FieldValues{texts.TrackName, texts.ArtistName, texts.AlbumName,
                                     texts.Year,      texts.Comment,    genre};
            } else {
                narrow(shared->title, texts.TrackName, sameText);
                narrow(shared->artist, texts.ArtistName, sameText);
                narrow(shared->album, texts.AlbumName, sameText);
                narrow(shared->year, texts.Year, sameText);
                narrow(shared->comment, texts.Comment, sameText);
                narrow(shared->genre, genre, sameGenre);
            }
        }
        if (progress)
            ++progress->done;
    }
    return shared.value_or(FieldValues{});
}

tags::FieldChanges changedFields(const FieldValues &start, const FieldValues &shown)
{
    tags::FieldChanges out;
    out.title = changed(start.title, shown.title, sameText);
    out.artist = changed(start.artist, shown.artist, sameText);
    out.album = changed(start.album, shown.album, sameText);
    out.year = changed(start.year, shown.year, sameText);
    out.comment = changed(start.comment, shown.comment, sameText);
    out.genre = changed(start.genre, shown.genre, sameGenre);
    return out;
}

QList<history::TagEdit> batchEdits(const QList<QByteArray> &paths, const tags::FieldChanges &changes)
{
    QList<history::TagEdit> edits;
    if (changes.empty())
        return edits;
    for (const QByteArray &path : paths)
        edits.append({path, changes});
    return edits;
}

} // namespace batch

namespace batch {

QString tagWriteFailureMessage(const QStringList &failedFiles, qsizetype notTried)
{
    QString text;
    if (!failedFiles.isEmpty()) {
        text = QStringLiteral("Tag write error\r\n\r\n以下のファイルのタグは書き込めませんでした。\r\n\r\n");
        for (const QString &file : failedFiles)
            text += file + QStringLiteral("\r\n");
    }
    if (notTried > 0) {
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += QStringLiteral("中止したため、%1 件のファイルは書き込んでいません。").arg(notTried);
    }
    return text;
}

} // namespace batch
