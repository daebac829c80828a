#include "newname.h"

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

QString compose(const QString &singer, const QString &title)
{
    const QString joined = singer + QStringLiteral(" - ") + title;
    for (QChar c : joined) {
        if (isRejectedNameChar(c))
            return kFilenameError;
    }
    return joined + QStringLiteral(".mp3");
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
