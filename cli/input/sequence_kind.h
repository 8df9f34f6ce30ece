// The kind of picture an image sequence holds as a whole. Pictures of one
// sequence may differ: a grey first picture may be followed by colour ones,
// or by ones with alpha. The output's pixel format is chosen from all of
// them, so that no picture loses its colour or alpha.
#pragma once

#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

// Reads every picture of the sequence at `url` from picture `start_number`
// ("" for FFmpeg's own choice; decoding each; a picture that cannot be read
// is passed over, the run itself reports it) and returns
// `first` when it holds what all of them hold, else the narrowest format
// that does: 8-bit RGB or grey, each with or without alpha.
AVPixelFormat widest_sequence_format(const std::string& url, const std::string& start_number, AVPixelFormat first);
