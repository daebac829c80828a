// Proposed file names: how a tag becomes "Singer - Title.mp3", the markers
// that stand where there is no name, and the folder part of a path.
#pragma once

#include <QString>

#include "core/tags/taginfo.h"

namespace renaming {

// Markers shown instead of a proposed name. Each begins with "*", which no
// proposed name holds, so a rename to a marker is always refused.
inline const QString kFileNotFound = QStringLiteral("*[File not found]");
inline const QString kTagInfoError = QStringLiteral("*[Tag info error]");
inline const QString kFilenameError = QStringLiteral("*[Filename error]");

// True for the characters a proposed name may not hold: the ten that
// Windows refuses in file names (" > : ; * | ? < / \) and every control
// character (below code 32, and 127), which a tag may carry and Linux would
// accept.
bool isRejectedNameChar(QChar c);

// True when `name` may be used as a file name in its folder: not empty, not
// "." or "..", no marker (no leading "*") and no rejected character.
bool isAcceptableName(QStringView name);

// The proposed name for a tag: singer, " - ", title (both trimmed by
// TrimTagStr), in Unicode NFC, then ".mp3"; kFilenameError when the joined
// text holds a rejected character, or when the name is one that some disk
// cannot hold (over 255 bytes, a trailing dot or blank, a Windows device
// name such as "CON" or "con.x - y.mp3"). Empty fields are allowed
// (" - .mp3").
QString ComposeNewName(const tags::TagInfo &tag);

// The same for a record as the library leaves it, without converting the
// fields the name does not use.
QString ComposeNewName(const mp3lib::TagInfoWire &wire);

// The part of `path` up to and including its last "/", or the empty text
// when there is none.
QString GetFolderPath(const QString &path);

} // namespace renaming
