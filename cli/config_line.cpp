// The strict reader of the saved script line "Config(LEVEL, DYNAMIC)".
#include "cli/config_line.h"

#include <cstdint>

std::optional<int> parse_int32(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 10) return std::nullopt;  // 10 digits reach past the range
  int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<ConfigArguments> parse_config_line(std::string_view line) {
  constexpr std::string_view kOpen = "Config(";
  constexpr std::string_view kSeparator = ", ";
  constexpr std::string_view kClose = ")";
  if (line.substr(0, kOpen.size()) != kOpen) return std::nullopt;
  line.remove_prefix(kOpen.size());
  if (line.size() < kClose.size() || line.substr(line.size() - kClose.size()) != kClose) return std::nullopt;
  line.remove_suffix(kClose.size());
  const size_t comma = line.find(kSeparator);
  if (comma == std::string_view::npos) return std::nullopt;
  const std::optional<int> level = parse_int32(line.substr(0, comma));
  const std::optional<int> dynamic = parse_int32(line.substr(comma + kSeparator.size()));
  if (!level || !dynamic) return std::nullopt;
  return ConfigArguments{*level, *dynamic};
}
