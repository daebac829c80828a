// The committed sample MP3 files of tests/data. Every test
// includes this header, so it also brings what they all use: Qt Core and Qt
// Test whole, and the C++ and POSIX parts that make files, links and children.
#pragma once

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testdata {

// Untagged samples, about 1 s each but the noise.
inline constexpr const char *kStereoMpeg1 = "stereo-mpeg1.mp3";   // 44.1 kHz, 128 kbit/s
inline constexpr const char *kMonoMpeg1 = "mono-mpeg1.mp3";       // 44.1 kHz, 64 kbit/s
inline constexpr const char *kStereoMpeg2 = "stereo-mpeg2.mp3";   // 22.05 kHz, 64 kbit/s
inline constexpr const char *kNoise3s = "stereo-noise-3s.mp3";    // 3 s, 320 kbit/s

// Full path of a file in tests/data.
QString sample(const char *name);
// Copies sample `name` to `dir`/`newName` (owner-writable) and returns its path.
QString copySample(const QString &dir, const char *name, const QString &newName);
QByteArray readAll(const QString &path);
// The bytes of the untagged stereo sample, the audio most test files are built on.
QByteArray audio();
// The threads of this process now: the players' and readers' workers must end.
int threadCount();
void writeAll(const QString &path, const QByteArray &bytes);
// Makes `path` as a table cell spells it: a file of `bytes`, or for "@fifo" a
// FIFO, "@folder" a folder, "@/TARGET" a link to /TARGET; other "@" cells nothing.
void make(const QString &path, const QByteArray &bytes);

// The texts of a list's or combo box's entries.
template <typename List>
QStringList texts(const List *list)
{
    QStringList out;
    for (int i = 0; i < list->model()->rowCount(); ++i)
        out.append(list->model()->index(i, list->modelColumn()).data().toString());
    return out;
}

} // namespace testdata
