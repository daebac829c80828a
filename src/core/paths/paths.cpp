#include "core/paths/paths.h"

#include <QMutexLocker>

#include "core/tags/legacytext.h"

#include <QByteArrayView>
#include <QList>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace paths {

namespace {

const QByteArray kUrlStart = QByteArrayLiteral("file://");

// Length of the valid UTF-8 character of two to four bytes that starts at
// `i`, or 0 when none starts there.
qsizetype utf8CharAt(const QByteArray &bytes, qsizetype i)
{
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const qsizetype length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > bytes.size())
        return 0;
    return QByteArrayView(bytes).sliced(i, length).isValidUtf8() ? length : 0;
}

// ASCII that a file URL carries as it is.
bool isPlainUrlByte(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("-._~/!$&'()*+,;=:@").contains(c);
}

// `path` with the ASCII bytes `plain` accepts and the valid UTF-8
// characters of two bytes or more as they are, and every other byte as
// `escape` writes it.
template <typename Plain, typename Escape>
QByteArray escaped(const QByteArray &path, Plain plain, Escape escape)
{
    QByteArray out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size();) {
        const char c = path[i];
        if (static_cast<unsigned char>(c) < 0x80 && plain(c)) {
            out += c;
            ++i;
        } else if (const qsizetype length = utf8CharAt(path, i)) {
            out += path.sliced(i, length);
            i += length;
        } else {
            out += escape(static_cast<unsigned char>(c));
            ++i;
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QString display(const QByteArray &path)
{
    if (QByteArrayView(path).isValidUtf8())
        return QString::fromUtf8(path);
    QString text;
    text.reserve(path.size());
    qsizetype start = 0;
    for (;;) {
        const qsizetype slash = path.indexOf('/', start);
        const qsizetype end = slash < 0 ? path.size() : slash;
        if (end > start)
            text += mp3lib::decodeLegacy(path.sliced(start, end - start));
        if (slash < 0)
            return text;
        text += u'/';
        start = slash + 1;
    }
}

QByteArray entryPath(const QVariant &kept, const QString &text)
{
    if (kept.typeId() == QMetaType::QByteArray)
        return kept.toByteArray();
    return text.toUtf8();
}

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    if (folder.endsWith('/'))
        return folder + name;
    return folder + '/' + name;
}

QByteArray folderOf(const QByteArray &path) { return path.left(path.lastIndexOf('/') + 1); }

QByteArray nameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

QByteArray normalFolder(const QByteArray &folder)
{
    if (folder.isEmpty())
        return folder;
    QByteArray absolute = folder;
    if (!absolute.startsWith('/')) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd))
            absolute = join(QByteArray(cwd), folder);
        else
            absolute.prepend('/');
    }
    QList<QByteArray> parts;
    for (const QByteArray &part : absolute.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return '/' + parts.join('/');
}

bool isUsableFolder(const QByteArray &path)
{
    if (path.isEmpty() || path.contains('\0'))
        return false;
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)
           && ::access(path.constData(), R_OK | X_OK) == 0;
}

QString toSetting(const QByteArray &path)
{
    if (QByteArrayView(path).isValidUtf8())
        return QString::fromUtf8(path);
    return QString::fromUtf8(kUrlStart + escaped(path, isPlainUrlByte, [](unsigned char c) {
        return '%' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
    }));
}

QByteArray printable(const QByteArray &path)
{
    const auto plain = [](char c) { return c >= 0x20 && c != 0x7F && c != '\\'; };
    return escaped(path, plain, [](unsigned char c) {
        return c == '\\' ? QByteArray("\\\\")
                         : "\\x" + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
    });
}

QByteArray fromSetting(const QString &value)
{
    const QByteArray text = value.toUtf8();
    if (!text.startsWith(kUrlStart))
        return text;
    QByteArray path;
    path.reserve(text.size());
    for (qsizetype i = kUrlStart.size(); i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low >= 0) {
            path += char(high * 16 + low);
            i += 2;
        } else {
            path += text[i];
        }
    }
    return path;
}

QByteArray SharedPath::get() const
{
    const QMutexLocker lock(&mutex_);
    return path_;
}

void SharedPath::set(const QByteArray &path)
{
    const QMutexLocker lock(&mutex_);
    path_ = path;
}

} // namespace paths
