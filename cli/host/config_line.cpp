// The reader of the saved script line "Config(LEVEL, DYNAMIC)".
#include "cli/host/config_line.h"

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

namespace {

// 'text', built by appending: GCC 12 warns wrongly about "'" + text.
std::string quoted(std::string_view text) {
  std::string q = "'";
  q.append(text).append("'");
  return q;
}

// Reads the line from the front, one part at a time.
class Reader {
 public:
  explicit Reader(std::string_view text) : rest_(text) {}

  void skip_blanks() {
    while (!rest_.empty() && (rest_.front() == ' ' || rest_.front() == '\t' || rest_.front() == '\r' ||
                              rest_.front() == '\n'))
      rest_.remove_prefix(1);
  }
  bool take(std::string_view word) {
    skip_blanks();
    if (rest_.substr(0, word.size()) != word) return false;
    rest_.remove_prefix(word.size());
    return true;
  }
  // The text up to the next ',' or ')' (or the end), blanks around it cut.
  std::string_view number_text() {
    skip_blanks();
    size_t n = 0;
    while (n < rest_.size() && rest_[n] != ',' && rest_[n] != ')') ++n;
    std::string_view text = rest_.substr(0, n);
    rest_.remove_prefix(n);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
  }
  bool at_end() {
    skip_blanks();
    return rest_.empty();
  }
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

}  // namespace

ConfigLine parse_config_line(std::string_view line) {
  auto refuse = [](std::string why) { return ConfigLine{std::nullopt, std::move(why)}; };
  Reader r(line);
  // The instance a saved script line sets: "VirtualDub.video.filters.instance[N]."
  if (r.take("VirtualDub.video.filters.instance[")) {
    const std::string_view index = r.rest().substr(0, r.rest().find(']'));
    const bool digits = !index.empty() && index.find_first_not_of("0123456789") == std::string_view::npos;
    r = Reader(r.rest().substr(index.size()));
    if (!digits || !r.take("]") || !r.take("."))
      return refuse("expected the host's instance prefix 'VirtualDub.video.filters.instance[N].' before Config");
  }
  if (!r.take("Config")) return refuse("expected the script line as the host saves it, such as 'Config(100, 5)'");
  if (!r.take("(")) return refuse("expected '(' after Config");
  int values[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    const std::string_view text = r.number_text();
    const std::optional<int> v = parse_int32(text);
    if (!v)
      return refuse(text.empty() ? "Config takes two numbers, Level and Dynamic"
                                 : quoted(text).append(" is not a whole number from -2147483648 to 2147483647"));
    values[k] = *v;
    if (!r.take(k == 0 ? "," : ")"))
      return refuse(k == 0 ? "Config takes two numbers, Level and Dynamic, separated by a comma"
                           : "Config takes two numbers, Level and Dynamic, and then ')'");
  }
  r.take(";");
  if (!r.at_end()) return refuse(std::string("unexpected ").append(quoted(r.rest())).append(" after the line"));
  return ConfigLine{ConfigArguments{values[0], values[1]}, ""};
}
