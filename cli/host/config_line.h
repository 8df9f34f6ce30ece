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

// The settings of a script line, or why it is not one.
struct ConfigLine {
  std::optional<ConfigArguments> arguments;
  std::string why;  // empty when `arguments` is set
};

// Accepts the line as the host writes it, "Config(100, 5)", also with the
// instance it belongs to and the statement's end, as a saved script holds
// it ("VirtualDub.video.filters.instance[0].Config(100, 5);"), and with any
// blanks between the parts. Each integer is an optional minus sign and
// decimal digits within the 32-bit range, as the script command takes it.
ConfigLine parse_config_line(std::string_view line);

// Reads a whole 32-bit integer written as an optional minus sign and
// decimal digits; nothing for anything else (blanks, '+', overflow).
std::optional<int> parse_int32(std::string_view text);
