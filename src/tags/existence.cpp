#include "existence.h"

#include <sys/stat.h>

namespace tags {

bool fileExists(const QByteArray &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    if (name.isEmpty() || name.startsWith('.'))
        return false;
    // A NUL inside would silently cut the path short for stat().
    if (path.contains('\0'))
        return false;
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace tags
