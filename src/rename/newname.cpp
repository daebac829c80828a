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

QString ComposeNewName(const tags::TagInfo &tag)
{
    const QString joined =
        tags::TrimTagStr(tag.ArtistName) + QStringLiteral(" - ") + tags::TrimTagStr(tag.TrackName);
    for (QChar c : joined) {
        if (isRejectedNameChar(c))
            return kFilenameError;
    }
    return joined + QStringLiteral(".mp3");
}

QString GetFolderPath(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

} // namespace renaming
