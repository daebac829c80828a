#include "core/rename/newname.h"

#include <QRegularExpression>

namespace renaming {

bool isRejectedNameChar(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 32 || u == 127)
        return true;
    switch (u) {
    case u'"': case u'>': case u':': case u';': case u'*':
    case u'|': case u'?': case u'<': case u'/': case u'\\':
        return true;
    default:
        return false;
    }
}

bool isAcceptableName(QStringView name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (QChar c : name) {
        if (isRejectedNameChar(c))
            return false;
    }
    return true;
}

namespace {

// Whether every disk and share the files may be copied to can hold `name`:
// at most 255 bytes of UTF-8 (ext4's limit; exFAT, NTFS and vfat count 255
// UTF-16 units, never more than the bytes), no trailing dot or blank, and
// none of Windows' device names, whose extension, if any, does not matter.
bool fitsEveryDisk(const QString &name)
{
    if (name.toUtf8().size() > 255 || name.endsWith(u'.') || name.endsWith(u' '))
        return false;
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]) *(\\.|$)"),
                                           QRegularExpression::CaseInsensitiveOption);
    return !device.match(name).hasMatch();
}

QString compose(const QString &singer, const QString &title)
{
    // Tags typed on a Mac hold decomposed characters ("ハ" and a combining
    // voiced mark): the name is the same as from tags typed elsewhere.
    const QString joined = (singer + QStringLiteral(" - ") + title).normalized(QString::NormalizationForm_C);
    for (QChar c : joined) {
        if (isRejectedNameChar(c))
            return kFilenameError;
    }
    const QString name = joined + QStringLiteral(".mp3");
    return fitsEveryDisk(name) ? name : kFilenameError;
}

} // namespace

QString ComposeNewName(const tags::TagInfo &tag)
{
    return compose(tags::TrimTagStr(tag.ArtistName), tags::TrimTagStr(tag.TrackName));
}

QString ComposeNewName(const mp3lib::TagInfoWire &wire)
{
    // What TagInfo::fromWire makes of the two fields, as TrimTagStr reads
    // it: the padding it adds is cut off again at the first NUL.
    auto field = [](const char *bytes) { return tags::TrimTagStr(QString::fromUtf8(bytes, tags::kTextWidth)); };
    return compose(field(wire.ArtistName), field(wire.TrackName));
}

QString GetFolderPath(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

} // namespace renaming
