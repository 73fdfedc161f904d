#include "media/mpeg/MMMPType.h"

#include <cstring>

const std::array<const char*, MpegGenreCount> MpegGenreNames = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal",
    "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel",
    "Noise", "Alt. Rock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock",
    "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle",
    "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk/Rock",
    "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde",
    "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus",
    "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House",
    "Dance Hall"};

namespace {

// The text of a fixed-width field: up to its first zero byte, with leading
// and trailing blanks (and control characters) removed.
std::string Field(const uint8_t* block, size_t at, size_t width) {
    const char* begin = reinterpret_cast<const char*>(block + at);
    size_t length = 0;
    while (length < width && begin[length] != 0) ++length;
    size_t first = 0;
    while (first < length && uint8_t(begin[first]) <= ' ') ++first;
    while (length > first && uint8_t(begin[length - 1]) <= ' ') --length;
    return std::string(begin + first, length - first);
}

}  // namespace

void MpegTagFromBlock(const uint8_t* block, MpegTagInfo& tag) {
    tag.Title = Field(block, Id3v1::Title, Id3v1::TitleBytes);
    tag.Artist = Field(block, Id3v1::Artist, Id3v1::ArtistBytes);
    tag.Album = Field(block, Id3v1::Album, Id3v1::AlbumBytes);
    tag.Year = Field(block, Id3v1::Year, Id3v1::YearBytes);
    tag.Comment = Field(block, Id3v1::Comment, Id3v1::CommentBytes);
    tag.Track = uint16_t(block[Id3v1::MarkerTrack] | block[Id3v1::MarkerTrack + 1] << 8);
    tag.Genre = block[Id3v1::Genre];
    tag.GenreText = tag.Genre < MpegGenreCount ? MpegGenreNames[tag.Genre] : "";
    tag.Flag = false;
}
