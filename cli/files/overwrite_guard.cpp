// Telling whether an output would replace an input.
#include "cli/files/overwrite_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <optional>

#include "cli/cli_error.h"
#include "cli/files/path_parts.h"
#include "cli/files/sequence_pattern.h"

std::vector<std::string> files_read_by(const std::string& input) {
  if (input == "-" || input.empty()) return {};
  const std::optional<SequencePattern> pattern = SequencePattern::parse(input);
  if (!pattern) return {input};
  std::vector<std::string> pictures;
  for (int64_t n : pattern->existing_numbers()) pictures.push_back(pattern->name_of(n));
  return pictures;
}

bool is_same_file(const std::string& input, const std::string& output) {
  if (input == "-" || output == "-") return false;
  if (same_inode(input, output)) return true;
  return base_part(input) == base_part(output) && same_folder(folder_part(input), folder_part(output));
}

bool writes_over(const std::string& output, const std::string& file) {
  if (output.empty() || output == "-") return false;
  // A sequence's pictures are renamed into place, which replaces the name
  // in the folder and never follows a link there: only that name counts.
  if (const std::optional<SequencePattern> pattern = SequencePattern::parse(output)) {
    const std::optional<int64_t> number = pattern->number_of(file);
    return number && *number >= 1;
  }
  return is_same_file(file, output);
}

std::string input_written_over(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs)
    for (const std::string& file : files_read_by(input))
      if (writes_over(output, file)) return file;
  return "";
}

Existing check_replaceable(const std::string& name, const std::string& shown, bool overwrite,
                           const std::string& cannot) {
  struct stat st {};
  if (lstat(name.c_str(), &st) != 0) return Existing::kNothing;
  const auto exists = [&] { return CliError("'" + shown + "' already exists (add -y to replace it)"); };
  if (stat(name.c_str(), &st) != 0) {  // a link to nothing yet
    if (!overwrite) throw exists();
    return Existing::kNothing;
  }
  if (S_ISDIR(st.st_mode)) throw CliError(cannot + " '" + shown + "': it is a directory");
  if (!S_ISREG(st.st_mode)) return Existing::kDevice;
  if (!overwrite) throw exists();
  // Replacing by rename needs only the folder's permission; -y replaces only
  // what the user could have overwritten in place.
  if (faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0)
    throw CliError("cannot replace '" + shown + "': " + std::strerror(errno));
  return Existing::kFile;
}
