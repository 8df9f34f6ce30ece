// Formatting of the script line and the caption without the C runtime (the
// Windows module links none): a tiny builder that appends literal text and
// signed decimal integers to a fixed buffer.
#pragma once

#include <cstddef>

class LineBuilder {
 public:
  // Large enough for the longest line: "Config(-2147483648, -2147483648)".
  static constexpr int kCapacity = 48;

  LineBuilder& text(const char* s) {
    while (*s && length_ < kCapacity - 1) buf_[length_++] = *s++;
    buf_[length_] = '\0';
    return *this;
  }

  LineBuilder& number(int value) {
    // Work with the magnitude as unsigned so INT_MIN needs no special case.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    char digits[12];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[n++] = '-';
    while (n > 0 && length_ < kCapacity - 1) buf_[length_++] = digits[--n];
    buf_[length_] = '\0';
    return *this;
  }

  const char* c_str() const { return buf_; }
  int length() const { return length_; }

 private:
  char buf_[kCapacity] = {};
  int length_ = 0;
};
