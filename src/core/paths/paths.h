// Paths as the file system gives them. On Linux a path is bytes and a name
// need not be valid UTF-8 (CP932 names from archives unpacked here, old
// disks and shares), so every path is kept as its exact bytes from the
// listing to the last system call; the text shown for it is made from the
// bytes here, never the other way round.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QVariant>

namespace paths {

// The text shown for a path or a name: each part between "/" decoded on its
// own by the legacy-text rule of tag reading (UTF-8, else the legacy encoding
// its bytes fit best), so a CP932 folder and a UTF-8 file name both read
// right. Every window shows paths through this one function.
QString display(const QByteArray &path);

// The item data role under which a list entry keeps the exact path (or
// name) it shows.
inline constexpr int kPathRole = Qt::UserRole + 7;

// The exact path of a list entry: the bytes kept under kPathRole, or, for an
// entry that keeps none, its text in the file-name encoding.
QByteArray entryPath(const QVariant &kept, const QString &text);

// A file's full path: the folder, "/" unless the folder already ends in one
// (the root), then the name.
QByteArray join(const QByteArray &folder, const QByteArray &name);

// The part of `path` up to and including its last "/"; empty when it has none.
QByteArray folderOf(const QByteArray &path);
// The part after the last "/".
QByteArray nameOf(const QByteArray &path);

// An absolute folder path in one spelling: no "." or ".." parts, no doubled
// or trailing "/" (except the root itself). A relative path is taken from
// the current folder. Empty stays empty.
QByteArray normalFolder(const QByteArray &folder);

// True when `path` names a folder (links followed) whose contents can be
// listed.
bool isUsableFolder(const QByteArray &path);

// A path as the settings file keeps it. A path that is valid UTF-8 is stored
// as itself. Any other is stored as a file URL ("file:///...") in which the
// bytes that are not part of a UTF-8 character, and "%", blanks, control
// characters and the other characters a URL does not carry as they are
// ("#", "?", "[", '"', ...), are written %XX; the rest stays readable. No absolute path begins with "file:", so the two never mix.
QString toSetting(const QByteArray &path);
// A path as UTF-8 text for a terminal or a script: valid UTF-8 stays as it
// is; every other byte and every control character (which would break a
// line of output apart) is written \xHH, and a backslash is doubled, so
// the text names exactly one path.
QByteArray printable(const QByteArray &path);

// The path a settings value names (the inverse of toSetting).
QByteArray fromSetting(const QString &value);

// A path one thread sets and another reads: the file or folder long work
// is at, for its progress dialog.
class SharedPath {
public:
    QByteArray get() const;
    void set(const QByteArray &path);

private:
    mutable QMutex mutex_;
    QByteArray path_;
};

} // namespace paths
