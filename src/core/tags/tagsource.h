// A tag's fields as the tag frame reads them, whole (not cut to the
// record's widths), each with where its text came from: the planning of
// repairs and conversions must know which text has no declared encoding.
#pragma once

#include "core/tags/textcodec.h"
#include "core/tags/vbmp3.h"

#include <QByteArray>
#include <QString>
#include <array>

namespace mp3lib {

struct FieldSource {
    enum Where : quint8 {
        Nowhere,       // the field is empty
        Id3v2Unicode,  // an ID3v2 frame in UTF-16 or UTF-8
        Id3v2Latin1,   // an ID3v2 frame marked ISO-8859-1: no declared encoding
        Id3v1,         // the ID3v1 tag: no declared encoding
        Ape,           // an APE item (UTF-8)
    } where = Nowhere;
    // Undeclared text: the code page the tag's reading decided, and the
    // bytes as stored.
    detail::LegacyCodec codec = detail::LegacyCodec::Windows1252;
    QByteArray bytes;
    bool several = false;   // a frame of several values, read joined by blanks

    bool undeclared() const { return where == Id3v2Latin1 || where == Id3v1; }
};

enum SourceField { SourceTitle, SourceArtist, SourceAlbum, SourceYear, SourceComment, kSourceFields };

struct SourcedTag {
    std::array<QString, kSourceFields> text;   // title, artist, album, year, comment
    std::array<FieldSource, kSourceFields> source;
    int genreNo = 255;      // 255: none, or a genre of its own
    QString genre;          // the genre's name, or its own text; empty for none
    QString track;          // the track number's text; empty for none
    bool id3v2 = false, ape = false, id3v1 = false;   // the tags the file has
};

// Reads the tag of `path` as vbmp3_getFileTagInfo does, with each field's source.
TagRead readSourcedTag(const char *path, SourcedTag &out);

} // namespace mp3lib
