// Test data helpers: the committed sample MP3 files, and copies of them in a
// temporary folder for a test to tag, rename or break.
#pragma once

#include <QByteArray>
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

} // namespace testdata
