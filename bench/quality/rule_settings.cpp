// The quality benchmark's window on the engine's settings, so that it keeps
// no copy of them:
//   velbrin_rule_settings SIGMA     "level dynamic" that velbrin's rule gives
//                                   for noise of that standard deviation
//                                   (8-bit scale)
//   velbrin_rule_settings --ranges  "level MIN MAX DEFAULT" and
//                                   "dynamic MIN MAX DEFAULT"
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/setting_ranges.h"
#include "engine/strength/strength_rule.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SIGMA | --ranges\n", argv[0]);
    return 2;
  }
  if (std::strcmp(argv[1], "--ranges") == 0) {
    std::printf("level %d %d %d\ndynamic %d %d %d\n", kLevelMin, kLevelMax, kDefaultLevel, kDynamicMin, kDynamicMax,
                kDefaultDynamic);
    return 0;
  }
  char* end = nullptr;
  const double sigma = std::strtod(argv[1], &end);
  if (end == argv[1] || *end != '\0' || !(sigma >= 0.0 && sigma <= 255.0)) {
    std::fprintf(stderr, "%s: '%s' is not a deviation from 0 to 255\n", argv[0], argv[1]);
    return 2;
  }
  const StrengthSettings settings = strength_for_noise(sigma);
  std::printf("%d %d\n", settings.level, settings.dynamic);
  return 0;
}
