// Reads the script line the host saves for the filter, "Config(LEVEL, DYNAMIC)",
// so that a setting copied from a host's script can be given to velbrin.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct ConfigArguments {
  int level;
  int dynamic;
};

// Accepts exactly the shape the host writes: "Config(" integer ", " integer
// ")" with one blank after the comma and nothing else around it; an integer
// is an optional minus sign and decimal digits within the 32-bit range.
// Returns nothing for any other text.
std::optional<ConfigArguments> parse_config_line(std::string_view line);

// Reads a whole 32-bit integer written as an optional minus sign and
// decimal digits; nothing for anything else (blanks, '+', overflow).
std::optional<int> parse_int32(std::string_view text);
