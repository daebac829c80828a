#include "core/repair/retag.h"

#include "core/tags/existence.h"
#include "core/tags/fileaccess.h"
#include "core/tags/garbled.h"
#include "core/id3v2/id3v2layer.h"
#include "core/tags/tagsource.h"

#include <QHash>

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace retag {

namespace {

using mp3lib::FieldSource;
using mp3lib::detail::LegacyCodec;

constexpr mp3lib::SourceField kSources[4] = {mp3lib::SourceTitle, mp3lib::SourceArtist,
                                            mp3lib::SourceAlbum, mp3lib::SourceComment};

// The tag record carries a field in 128 bytes of UTF-8; a longer text would
// be written cut, so such a field is left alone.
constexpr qsizetype kMostBytes = 127;

// How much more plausible one reading of undeclared text must be than the
// other for a conversion to count as sure: about one Japanese character.
constexpr double kSureMargin = 3.0;

bool isAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

QString codecName(LegacyCodec codec)
{
    switch (codec) {
    case LegacyCodec::Utf8: return QStringLiteral("UTF-8");
    case LegacyCodec::Cp932: return QStringLiteral("CP932");
    case LegacyCodec::Windows1252: return QStringLiteral("Windows-1252");
    }
    return {};
}

// The version of the file's ID3v2 tag, 0 without one.
int id3v2Version(const QByteArray &path)
{
    const mp3lib::detail::Fd fd = mp3lib::detail::openRegularFile(path.constData(), O_RDONLY);
    std::uint8_t header[mp3lib::detail::Id3Header::kSize];
    if (!fd.valid() || ::pread(fd.get(), header, sizeof header, 0) != ssize_t(sizeof header))
        return 0;
    const mp3lib::detail::Id3Header h = mp3lib::detail::parseId3Header(header);
    return h.present ? h.major : 0;
}

// Whether the code page read for the undeclared text stored like `source`
// won clearly over the other one, summed over the tag's fields stored
// there.
bool readingIsSure(const mp3lib::SourcedTag &tag, FieldSource::Where where)
{
    double japanese = 0, western = 0;
    for (const FieldSource &s : tag.source) {
        if (s.where != where || s.bytes.isEmpty())
            continue;
        if (s.codec == LegacyCodec::Utf8)
            return true;
        japanese += mp3lib::detail::legacyPlausibility(LegacyCodec::Cp932, s.bytes);
        western += mp3lib::detail::legacyPlausibility(LegacyCodec::Windows1252, s.bytes);
    }
    return std::abs(japanese - western) >= kSureMargin;
}

void planRepair(const QByteArray &path, const mp3lib::SourcedTag &tag, FilePlan &plan)
{
    mp3lib::TagTexts texts;
    for (std::size_t f = 0; f < 4; ++f)
        texts[f] = tag.text[kSources[f]];
    const std::optional<mp3lib::GarbleRepair> found = mp3lib::findGarbleRepair(texts);
    if (!found)
        return;
    const QString chain = QStringLiteral("%1 read as %2").arg(mp3lib::codePageName(found->real),
                                                             mp3lib::codePageName(found->misreadAs));
    for (std::size_t f = 0; f < 4; ++f) {
        if (found->texts[f] != texts[f])
            plan.rows.append({path, Field(f), texts[f], found->texts[f], true, chain, QStringLiteral("Unicode")});
    }
}

void planConversion(const QByteArray &path, const mp3lib::SourcedTag &tag, FilePlan &plan)
{
    int version = -1;
    for (int f = 0; f < 4; ++f) {
        const FieldSource &s = tag.source[kSources[f]];
        const QString &text = tag.text[kSources[f]];
        // ASCII reads the same in every program; a frame of several values
        // would be joined into one by a rewrite.
        if (!s.undeclared() || isAscii(text) || s.several)
            continue;
        if (version < 0)
            version = id3v2Version(path);
        const QString now = QStringLiteral("%1, %2").arg(s.where == FieldSource::Id3v1 ? QStringLiteral("ID3v1")
                                                                                         : QStringLiteral("ISO-8859-1"),
                                                         codecName(s.codec));
        const QString after = QStringLiteral("ID3v2.%1, UTF-16").arg(version == 0 ? 3 : version);
        plan.rows.append({path, Field(f), text, text, readingIsSure(tag, s.where), now, after});
    }
}

} // namespace

QString fieldKey(Field field)
{
    static const char *const keys[] = {"title", "artist", "album", "comment"};
    return QString::fromLatin1(keys[int(field)]);
}

FilePlan planFile(Kind kind, const QByteArray &path)
{
    FilePlan plan;
    if (!tags::fileExists(path)) {
        plan.error = tags::missingReason(path);
        return plan;
    }
    mp3lib::SourcedTag tag;
    if (mp3lib::readSourcedTag(path.constData(), tag) != mp3lib::TagRead::Read) {
        plan.error = QStringLiteral("the tag cannot be read");
        return plan;
    }
    if (kind == Kind::Repair)
        planRepair(path, tag, plan);
    else
        planConversion(path, tag, plan);
    for (qsizetype i = plan.rows.size() - 1; i >= 0; --i) {
        if (plan.rows[i].after.toUtf8().size() > kMostBytes) {
            plan.error = QStringLiteral("%1: longer than a tag write takes (%2 bytes of UTF-8); left as it is")
                             .arg(fieldKey(plan.rows[i].field))
                             .arg(kMostBytes);
            plan.rows.removeAt(i);
        }
    }
    return plan;
}

QList<FilePlan> planFiles(Kind kind, const QList<QByteArray> &paths, PlanProgress *progress)
{
    QList<FilePlan> plans;
    plans.reserve(paths.size());
    for (const QByteArray &path : paths) {
        if (progress) {
            if (progress->cancel.load())
                break;
            progress->current.set(path);
        }
        plans.append(planFile(kind, path));
        if (progress)
            ++progress->done;
    }
    return plans;
}

QList<history::TagEdit> editsFor(Kind kind, const QList<Row> &rows)
{
    QList<history::TagEdit> edits;
    QHash<QByteArray, qsizetype> at;
    for (const Row &row : rows) {
        auto it = at.constFind(row.path);
        if (it == at.constEnd()) {
            it = at.insert(row.path, edits.size());
            edits.append({row.path, {}});
            edits.back().changes.rewrite = kind == Kind::Convert;
        }
        tags::FieldChanges &c = edits[*it].changes;
        std::optional<QString> *fields[] = {&c.title, &c.artist, &c.album, &c.comment};
        *fields[int(row.field)] = row.after;
    }
    return edits;
}

QString batchLabel(Kind kind)
{
    return kind == Kind::Repair ? QStringLiteral("文字化けの修復") : QStringLiteral("Unicode への変換");
}

} // namespace retag
