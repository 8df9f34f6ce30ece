// velbrin --measure INPUT...: the noise of each input, measured over frames
// spread across it, and the fixed setting the rule gives for it, as
// velbrin's options and as the host's script line. Writes nothing.
#pragma once

#include <string>
#include <vector>

#include "cli/host/filter_host.h"

// Frames measured per input at most, spread evenly over the frames it
// announces (every one when it announces fewer, or says nothing).
constexpr int kMeasuredFrames = 15;

// One line per input on standard output; an input that cannot be read gets
// a line on standard error. Returns the exit status (kExitFailure when an
// input could not be read).
int run_measure(const std::vector<std::string>& inputs, const LoadedFilterModule& module);
