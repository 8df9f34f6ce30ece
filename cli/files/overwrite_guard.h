// What velbrin may replace: a file the user could write, and only with -y.
// (What it must never write over, the files it reads, is the write plan's
// rule: write_plan.h.)
#pragma once

#include <string>

// What is at a name velbrin is about to write, once the rules every file of
// velbrin follows have let it through: a folder is never written, and an
// existing file is replaced only with -y and only when the user may write
// it (as ffmpeg -y, which opens it for writing). Devices, pipes and sockets
// are the caller's to accept or refuse. `cannot` starts the message for a
// folder ("cannot write", "cannot write progress to"). Throws CliError.
enum class Existing { kNothing, kFile, kDevice };
Existing check_replaceable(const std::string& name, const std::string& shown, bool overwrite, const std::string& cannot);
