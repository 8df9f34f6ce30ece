// Recognising a playlist by what it holds, not by its name.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

// The playlist demuxer for a regular file that starts as an M3U playlist
// does, whatever its name; nullptr for anything else (FFmpeg probes it).
// FFmpeg 7.1 no longer takes a playlist named other than .m3u8 for one and
// probes it as what its extension says, where 5.1 read it as a playlist;
// opened as one on every version, it is refused for the file it names.
const AVInputFormat* playlist_format(const std::string& path);
