#include "testdata.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

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
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                  | QFile::ReadOther);
    return to;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace testdata
