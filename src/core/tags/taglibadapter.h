// TagLib behind one adapter: everything the core asks of TagLib, in the
// core's own terms (paths as descriptors, texts as QString, frames as
// bytes). taglibadapter.cpp is the one file of the core that includes
// TagLib's headers; the build refuses any other (cmake/layers.cmake).
//
// The adapter agrees with TagLib 1.13 and later 1.x releases (the build
// requires them): the ID3v2 byte layer models where TagLib 1.13 stops in a
// tag and how it reads an extended header's size, and the block stream
// implements TagLib 1.x's IOStream. TagLib 2 changed both.
#pragma once

#include "core/id3v2/id3v2text.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace mp3lib::detail {

class FileReader;

// TagLib's ID3v1 genre table: the name of each number from 0 to 254 (empty
// where it has none).
QStringList taglibGenreNames();

// The number TagLib gives a genre name, also for names it knows under an
// older spelling ("Jazz+Funk"); 255 for a name it does not know.
int taglibGenreIndex(const QString &name);

// What TagLib reads of one file's tags.
struct TagLibTags {
    bool id3v2 = false, ape = false, id3v1 = false;
    TextFrames frames;   // the ID3v2 tag's frames, as the plain reader gives them
    // The APE tag's fields as TagLib reads them; the year from its YEAR item.
    QString apeTitle, apeArtist, apeAlbum, apeYear, apeComment, apeGenre, apeTrack;
};

// Reads the tags of the file open in `reader` with TagLib, read-only and
// the tags only. TagLib reads through the blocks `reader` holds, with
// `head`, when not empty, standing for the file's first head.size() bytes
// (an equivalent tag where TagLib would misread the file's own); or, where
// `ownFileStream` is true and `head` empty, through its own FileStream over
// the descriptor, as TagLib reads a file by itself. False when TagLib takes
// the file for no MPEG file, or a read of the file failed.
bool readTagsWithTagLib(FileReader &reader, const QByteArray &head, bool ownFileStream, TagLibTags &out);

// Whether TagLib takes the file open as `fd` for an MPEG file; `ape` says
// whether it finds an APE tag there (where a writer must keep it).
bool taglibFindsApeTag(int fd, bool &ape);

// How a new frame stores its text.
enum class FrameText { Latin1, Utf16 };

// A text frame `id` (four characters) holding `text`, and a comment frame
// without a description in `language` (three letters), as TagLib renders a
// frame of its own making: an ID3v2.4 frame header and the body.
QByteArray renderTextFrame(const QByteArray &id, const QString &text, FrameText encoding);
QByteArray renderCommentFrame(const QString &text, FrameText encoding, const QByteArray &language);

// Whether `frame` (header and body, in a tag whose header is `tagHeader`)
// is a comment frame without a description, as TagLib parses it; its
// language goes to `language` when given.
bool isPlainCommentFrame(const QByteArray &frame, const QByteArray &tagHeader, QByteArray *language);

} // namespace mp3lib::detail
