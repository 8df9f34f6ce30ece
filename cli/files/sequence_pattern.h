// Image sequence names: a file name with one frame-number conversion, such
// as "frames/%04d.png" ("%%" stands for a plain "%"), as FFmpeg reads and
// writes them. The one reader of such names in velbrin: the input, the
// output choice and the temporary files all ask here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SequencePattern {
  std::string prefix;  // everything before the number, the folder included
  int width = 0;       // the number has at least this many digits, zero padded
  std::string suffix;  // everything after it

  // The pattern in `name`, or nothing when it has no frame-number
  // conversion, more than one, or a malformed one.
  static std::optional<SequencePattern> parse(const std::string& name);

  // Picture `number`'s file name.
  std::string name_of(int64_t number) const;

  // Numbers of the pictures that exist now, in order, found by listing the
  // folder (a gap in the numbering does not end the list).
  std::vector<int64_t> existing_numbers() const;

  // The number a file name (no folder) of the pattern's folder holds.
  std::optional<int64_t> number_in_file_name(const std::string& name) const;
  // The file name's part before the number ("out" of "dir/out%04d.png").
  std::string file_name_head() const;
};

inline bool is_sequence_pattern(const std::string& name) { return SequencePattern::parse(name).has_value(); }

// The number of the first picture of sequence `name` that exists, as
// text; "" when `name` is no pattern or none exists.
std::string first_picture_number(const std::string& name);
