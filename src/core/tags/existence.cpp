#include "core/tags/existence.h"

#include <sys/stat.h>

namespace tags {

bool namesVisibleFile(const QByteArray &path)
{
    if (path.isEmpty())
        return false;
    // The file's own name: not empty, not hidden.
    const qsizetype name = path.lastIndexOf('/') + 1;
    if (name == path.size() || path.at(name) == '.')
        return false;
    // A NUL inside would silently cut the path short for stat().
    return !path.contains('\0');
}

bool fileExists(const QByteArray &path)
{
    if (!namesVisibleFile(path))
        return false;
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace tags
