// Reading, writing and listing image sequence names.
#include "cli/files/sequence_pattern.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "cli/files/path_parts.h"

namespace {

// Numbers longer than this cannot be told from the ones FFmpeg writes
// (an int64_t has 19 digits).
constexpr size_t kMaxDigits = 18;

}  // namespace

std::optional<SequencePattern> SequencePattern::parse(const std::string& name) {
  std::string parts[2];
  int conversions = 0;
  int width = 0;
  for (size_t k = 0; k < name.size(); ++k) {
    std::string& part = parts[conversions > 0 ? 1 : 0];
    if (name[k] != '%') {
      part += name[k];
      continue;
    }
    if (k + 1 < name.size() && name[k + 1] == '%') {
      part += '%';
      ++k;
      continue;
    }
    // "%d" or "%Nd" with a width of one or two digits, as FFmpeg takes it.
    size_t j = k + 1;
    int digits = 0;
    while (j < name.size() && name[j] >= '0' && name[j] <= '9' && j - k <= 2) digits = digits * 10 + (name[j++] - '0');
    if (j >= name.size() || name[j] != 'd' || ++conversions > 1 || digits > int(kMaxDigits)) return std::nullopt;
    width = digits;
    k = j;
  }
  if (conversions != 1) return std::nullopt;
  return SequencePattern{parts[0], width, parts[1]};
}

std::string SequencePattern::name_of(int64_t number) const {
  std::string digits = std::to_string(number < 0 ? 0 : number);
  if (digits.size() < size_t(width)) digits.insert(0, size_t(width) - digits.size(), '0');
  return prefix + digits + suffix;
}

std::optional<int64_t> SequencePattern::number_in_file_name(const std::string& name) const {
  const std::string head = file_name_head();
  if (name.size() <= head.size() + suffix.size() || name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::nullopt;
  const std::string digits = name.substr(head.size(), name.size() - head.size() - suffix.size());
  if (digits.size() > kMaxDigits || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int64_t number = std::stoll(digits);
  // "007" is picture 7 of "%03d" but of no "%d" sequence.
  if (base_part(name_of(number)) != name) return std::nullopt;
  return number;
}

std::string SequencePattern::file_name_head() const { return base_part(prefix); }

std::vector<int64_t> SequencePattern::existing_numbers() const {
  std::vector<int64_t> numbers;
  const std::string folder = folder_part(prefix);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
  if (!dir) return numbers;
  while (const dirent* e = readdir(dir.get()))
    if (const std::optional<int64_t> n = number_in_file_name(e->d_name)) numbers.push_back(*n);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::string first_picture_number(const std::string& name) {
  const std::optional<SequencePattern> pattern = SequencePattern::parse(name);
  if (!pattern) return "";
  const std::vector<int64_t> numbers = pattern->existing_numbers();
  return numbers.empty() ? "" : std::to_string(numbers.front());
}
