// Which frames of the input are key frames, by the run's one frame clock:
// the frames a full decode of the filtered video stream outputs, in that
// order, as a run numbers them for --frames.
#pragma once

#include <vector>

class MediaInput;

// Decodes the input's video from its current position (a freshly opened
// input: the start) to the end. Frames whose decoding fails are not output
// by the decoder and so not counted, as in a run.
std::vector<bool> key_frames_by_clock(MediaInput& input);
