#include "common/testdata.h"

namespace testdata {

QString sample(const char *name)
{
    QByteArray dir = qgetenv("DORVASU_TEST_DATA");
    if (dir.isEmpty())
        qFatal("DORVASU_TEST_DATA is not set; run the tests through ctest");
    return QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name));
}

QString copySample(const QString &dir, const char *name, const QString &newName)
{
    const QString to = QDir(dir).filePath(newName);
    QFile::remove(to);
    if (!QFile::copy(sample(name), to))
        qFatal("cannot copy sample %s to %s", name, qPrintable(to));
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return to;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray audio() { return readAll(sample(kStereoMpeg1)); }

int threadCount() { return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()); }

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

void make(const QString &path, const QByteArray &bytes)
{
    const QByteArray native = QFile::encodeName(path);
    if (!bytes.startsWith('@'))
        writeAll(path, bytes);
    else if ((bytes == "@fifo" && ::mkfifo(native.constData(), 0644) != 0) || (bytes == "@folder" && !QDir().mkdir(path))
             || (bytes.startsWith("@/") && ::symlink(bytes.mid(1).constData(), native.constData()) != 0))
        qFatal("cannot make %s", native.constData());
}

} // namespace testdata
