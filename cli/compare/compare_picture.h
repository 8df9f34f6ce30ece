// The comparison picture: one frame's input, output and Show noise view
// side by side, each with a label under it, so a setting can be judged at
// a glance.
#pragma once

#include <string>

#include "cli/media/host_frame.h"

class TempOutput;

// Height of the label strip under panels of the given width.
int label_strip_height(int panel_width);

// Three panels of the same size side by side over a label strip:
// width 3 x panel width, height panel height + label_strip_height().
HostFrame compose_comparison(const HostFrame panels[3], const std::string labels[3]);

// Whether FFmpeg writes a single picture for this name (.png, .jpg, ...).
bool is_picture_name(const std::string& name);

// Encodes one picture into the temporary file `file` in the format the
// name `target` says (and names in messages). Throws CliError.
void write_picture(TempOutput& file, const std::string& target, const HostFrame& picture);
