// The MP3 library binding: the eleven operations the program calls, over
// TagLib (tags), libmpg123 (decoding) and libout123 (sound output).
//
// Records cross in their wire form, byte for byte as laid out below. Texts
// inside them, and paths, are UTF-8 (the system code page here).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mp3lib {

#pragma pack(push, 1)
// The 652-byte tag record as the library reads and writes it.
struct TagInfoWire {
    char TrackName[128];
    char ArtistName[128];
    char AlbumName[128];
    char Year[5];
    char Comment[128];
    char Padding[3];
    std::int32_t GenreNo;   // little-endian on every platform we build for
    char GenreName[128];
};

// The 272-byte record vbmp3_open fills; the program reads nothing from it.
struct OpenInfoWire {
    char Text1[128];
    char Text2[128];
    std::int32_t Value[4];
};
#pragma pack(pop)

static_assert(sizeof(TagInfoWire) == 652);
static_assert(offsetof(TagInfoWire, ArtistName) == 128);
static_assert(offsetof(TagInfoWire, AlbumName) == 256);
static_assert(offsetof(TagInfoWire, Year) == 384);
static_assert(offsetof(TagInfoWire, Comment) == 389);
static_assert(offsetof(TagInfoWire, GenreNo) == 520);
static_assert(offsetof(TagInfoWire, GenreName) == 524);
static_assert(sizeof(OpenInfoWire) == 272);

} // namespace mp3lib

// The eleven operations. A 16-bit result is a truth value: 0 is failure.
std::int16_t vbmp3_init();
std::int16_t vbmp3_free();
std::int16_t vbmp3_getGenre(mp3lib::TagInfoWire &tag);
std::int16_t vbmp3_getFileTagInfo(const char *path, mp3lib::TagInfoWire &tag);
std::int16_t vbmp3_setTagInfo(const char *path, mp3lib::TagInfoWire &tag,
                              std::int32_t flag1, std::int32_t flag2);
std::int16_t vbmp3_open(const char *path, mp3lib::OpenInfoWire &info);
std::int16_t vbmp3_play();
std::int16_t vbmp3_stop();
std::int16_t vbmp3_close();
std::int16_t vbmp3_getVolume(std::int32_t &left, std::int32_t &right);
std::int16_t vbmp3_setVolume(std::int32_t left, std::int32_t right);

namespace mp3lib {

// Removes from `folder` the hidden copies that tag writes killed half-way
// left behind, skipping those whose write is still running (each holds a
// lock on its copy). Called whenever the program lists a folder or reads
// the first tag of one.
void removeLeftoverCopies(const char *folder);

// vbmp3_getFileTagInfo for a caller that has not tested the path yet: the
// one look at the path that opening the file needs also tells a missing
// file (nothing there, or no regular file, links followed) from one whose
// tag cannot be read.
enum class TagRead { NotFound, Failed, Read };
TagRead readFileTag(const char *path, TagInfoWire &tag);

// Why the last vbmp3_open failed: the file (missing, unreadable, no MPEG
// audio) or, with the file fine, the sound output (no sound server or
// device could be opened). Nothing when it succeeded.
enum class OpenFailure { Nothing, File, SoundOutput };
OpenFailure lastOpenFailure();

// Hooks for tests; the program itself never calls them.

// Makes TagLib read every file through its own FileStream over the
// descriptor, as it reads them by itself (`on` true), instead of the
// binding reading plain ID3v2 tags itself and handing TagLib the blocks it
// has read for the rest: both must give the same records.
void setTagLibFileStreamForTesting(bool on);

// Turns the binding's own reading of plain ID3v2 tags off (`on` false):
// every tag is then read by TagLib through the blocks the checks have read
// (the frame walk still says where TagLib would misread a tag). For
// benchmarks, to show what the plain reader buys.
void setPlainReaderForTesting(bool on);

// Sends the sound of every later vbmp3_open to a WAV file at `path` through
// out123's built-in "wav" output instead of the sound server. An empty or
// null path goes back to the sound server. The file fills at the pace the
// sound would play, as a device would take it.
void setWavOutputForTesting(const char *path);

// True while the sound of vbmp3_play is still being decoded and written;
// false once it has been stopped or has played to its end.
bool isPlayingForTesting();

// Makes vbmp3_init report failure (`fail` true) or behave normally.
void setInitFailureForTesting(bool fail);

// Makes vbmp3_getGenre return an empty name for every number (`empty` true),
// as a library without a genre table would.
void setEmptyGenreTableForTesting(bool empty);

} // namespace mp3lib
