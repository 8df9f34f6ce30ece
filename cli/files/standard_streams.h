// velbrin's standard streams: kept from pointing at its own files, and
// checked at the end, so that a full or closed standard output is an error
// instead of lost lines.
#pragma once

#include <string>

// Descriptors 0, 1 and 2 that are closed when velbrin starts are opened on
// /dev/null, read-only: otherwise the first output file would get number 1
// and printf would write into it; read-only, writes to them still fail and
// are reported. SIGPIPE is ignored: a reader that went away makes a write
// fail with EPIPE, which is reported, instead of killing velbrin before it
// can remove its temporary files. SIGXFSZ likewise: a file past the
// size limit (ulimit -f) makes the write fail with EFBIG instead.
void reserve_standard_descriptors();

// Writes `text` to standard output; throws CliError with the reason when
// the stream refuses it (a text longer than stdio's buffer fails here,
// while its errno is still known).
void write_standard_output(const std::string& text);

// Flushes and closes standard output. Returns 0, or the errno of the
// first failed write.
int close_standard_output();
