// What velbrin must never write over: the files it reads. An output, the
// --compare picture and the --progress file are each checked against every
// file of every input before anything is opened for writing.
#pragma once

#include <string>
#include <vector>

// The files `input` reads: the file itself, or every picture of an image
// sequence that exists now. Nothing for standard input.
std::vector<std::string> files_read_by(const std::string& input);

// Whether writing `output` would replace `input` itself: the same file
// (also through a link), or the same name in the same folder (an image
// sequence's pattern, which names no file of its own).
bool is_same_file(const std::string& input, const std::string& output);

// Whether writing `output` (a file, or an image sequence pattern whose
// pictures are numbered from 1) would replace `file`.
bool writes_over(const std::string& output, const std::string& file);

// The first file of `inputs` that writing `output` would replace, or "".
std::string input_written_over(const std::string& output, const std::vector<std::string>& inputs);

// What is at a name velbrin is about to write, once the rules every file of
// velbrin follows have let it through: a folder is never written, and an
// existing file is replaced only with -y and only when the user may write
// it (as ffmpeg -y, which opens it for writing). Devices, pipes and sockets
// are the caller's to accept or refuse. `cannot` starts the message for a
// folder ("cannot write", "cannot write progress to"). Throws CliError.
enum class Existing { kNothing, kFile, kDevice };
Existing check_replaceable(const std::string& name, const std::string& shown, bool overwrite, const std::string& cannot);
