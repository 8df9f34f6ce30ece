// Prints the Level and Dynamic that velbrin's rule gives for a noise of the
// standard deviation given on the command line (8-bit scale), as
// "level dynamic": the quality benchmark's "rule for the true sigma", taken
// from the engine's own rule rather than a copy of it.
#include <cstdio>
#include <cstdlib>

#include "engine/strength/strength_rule.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SIGMA\n", argv[0]);
    return 2;
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
