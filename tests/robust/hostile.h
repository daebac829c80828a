// Hostile files: a set of files named ".mp3" that are broken, malicious or
// merely unusual, each with what the program must make of it. Shared by the
// tests that run them through the library binding and the rename list and
// by those that show them in the windows.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace hostile {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

struct HostileFile {
    QString what;        // a short description, usable as a test row name
    QString path;        // full path of the entry in the folder
    bool regular;        // false: a FIFO, a link to a device, a folder
    bool tagReads;       // vbmp3_getFileTagInfo succeeds
    bool tagWrites;      // vbmp3_setTagInfo succeeds (else: the file stays as it was)
    bool plays;          // vbmp3_open succeeds
    QString proposed;    // the rename list's entry: a proposed name or a marker
};

// An ID3v2.`version` tag (3 or 4) of ISO-8859-1 text frames, given as
// (frame ID, text) pairs, followed by `padding` zero bytes.
QByteArray id3v2Tag(int version, const QList<QPair<QByteArray, QByteArray>> &frames, int padding = 0);

// Writes the whole set into `folder` (which must exist and be empty) and
// returns it in a fixed order. The files are made from the committed test
// samples; the largest are a few MB.
QList<HostileFile> writeHostileFiles(const QString &folder);

// Runs `work` in a forked child under a watchdog (SIGALRM after
// `watchdogSeconds`) and returns its report with "seconds" (the time `work`
// took) and "memoryKb" (peak resident set above the child's start) added.
// False, with `why`, when the child hung, died or sent no report.
bool runInChild(int watchdogSeconds, const std::function<QVariantMap()> &work, QVariantMap &report,
                QString &why);

QByteArray sha1Of(const QString &path);

// Every entry of `folder`, hidden and special ones included.
QStringList entries(const QString &folder);

} // namespace hostile
