#include "common/testdata.h"

#include "common/id3build.h"

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

QList<QByteArrayList> table(const char *file, const QByteArray &section, int exprColumns,
                            const QHash<QByteArray, QByteArray> &vars)
{
    id3build::Bytes bytes({{"audio", audio()}, {"stereo", audio()}, {"mono", readAll(sample(kMonoMpeg1))},
                           {"mpeg2", readAll(sample(kStereoMpeg2))}});
    bytes.vars.insert(vars);
    QList<QByteArrayList> out;
    QByteArray current;
    for (QByteArray line : readAll(sample(file)).replace("\n ", "").split('\n')) {
        QByteArrayList row = line.replace(" | ", "\x1f").split('\x1f');
        if (line.startsWith('[')) {
            current = line.mid(1, line.indexOf(']') - 1);
        } else if (line.startsWith("let ")) {
            bytes.vars[row[0].mid(4)] = bytes(row[1]);
        } else if (current == section && !row[0].isEmpty() && !line.startsWith('#')) {
            for (qsizetype i = 1; i < row.size() && (exprColumns < 0 || i <= exprColumns); ++i)
                row[i] = row[i].startsWith('@') ? row[i] : bytes(row[i]);
            out << row;
        }
    }
    return out;
}

void addRows(const char *file, const QByteArray &section, const QByteArrayList &columns, int exprColumns,
             const QHash<QByteArray, QByteArray> &vars)
{
    static QByteArrayList names;   // QTest keeps the pointers it is given
    for (const QByteArray &column : columns)
        QTest::addColumn<QByteArray>((names << column).last().constData());
    for (const QByteArrayList &row : table(file, section, exprColumns, vars)) {
        QTestData &data = QTest::newRow(row[0].constData());
        for (qsizetype i = 1; i <= columns.size(); ++i)
            data << row.value(i);
    }
}

} // namespace testdata
