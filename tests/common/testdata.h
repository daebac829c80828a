// Test data helpers: the committed sample MP3 files, and copies of them in a
// temporary folder for a test to tag, rename or break.
#pragma once

#include <QByteArrayList>
#include <QHash>
#include <QString>

namespace testdata {

// Names of the committed samples (untagged, about 1 s each, except the noise).
inline constexpr const char *kStereoMpeg1 = "stereo-mpeg1.mp3";   // 44.1 kHz, 128 kbit/s
inline constexpr const char *kMonoMpeg1 = "mono-mpeg1.mp3";       // 44.1 kHz, 64 kbit/s
inline constexpr const char *kStereoMpeg2 = "stereo-mpeg2.mp3";   // 22.05 kHz, 64 kbit/s
inline constexpr const char *kNoise3s = "stereo-noise-3s.mp3";    // 3 s, 320 kbit/s

// Full path of a committed sample.
QString sample(const char *name);

// Copies sample `name` to `dir`/`newName` and returns the copy's full path;
// fails the running test (QFAIL-like, via qFatal) when the copy fails.
QString copySample(const QString &dir, const char *name, const QString &newName);

QByteArray readAll(const QString &path);
void writeAll(const QString &path, const QByteArray &bytes);

// The rows of section [`section`] of the case table tests/data/`file`: the
// row's name, then its columns (split by " | "; an indented line continues
// the row above). The first `exprColumns` columns (all when -1) are bytes
// spelled as id3build::Bytes expressions over `vars`, but for cells that
// start with "@". Lines "let NAME | EXPR" bind NAME for the lines after them;
// "#" lines and blank lines are skipped.
QList<QByteArrayList> table(const char *file, const QByteArray &section, QHash<QByteArray, QByteArray> vars = {},
                            int exprColumns = -1);

// Those rows as the running _data function's rows, a QByteArray column each.
void addRows(const char *file, const QByteArray &section, const QByteArrayList &columns,
             const QHash<QByteArray, QByteArray> &vars = {}, int exprColumns = -1);

} // namespace testdata
