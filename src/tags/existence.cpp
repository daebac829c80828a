#include "existence.h"

#include <QFile>

#include <sys/stat.h>

namespace tags {

QByteArray existencePath(const QString &path)
{
    if (path.isEmpty())
        return {};
    // The file's own name: not empty, not hidden.
    const qsizetype name = path.lastIndexOf(u'/') + 1;
    if (name == path.size() || path.at(name) == u'.')
        return {};
    const QByteArray native = QFile::encodeName(path);
    // A NUL inside the text would silently cut the path short for stat().
    if (native.contains('\0'))
        return {};
    return native;
}

bool fileExists(const QString &path)
{
    const QByteArray native = existencePath(path);
    if (native.isNull())
        return false;
    struct stat st;
    return ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace tags
