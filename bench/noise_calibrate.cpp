// Calibration of the noise measurement and the rule from noise to settings
// (engine/strength/): for each picture given (binary PPM, as
// bench/noise_pictures.py writes them) and each noise deviation, Gaussian
// noise with a fixed seed is added, the noise is measured, and the filter is
// run at the rule's setting and over a grid of fixed settings. One line per
// picture and deviation: the measured deviation, the rule's setting and its
// PSNR against the clean picture, the Level Auto chooses (the rule's,
// checked on the frame) and its PSNR, and the best fixed setting and its PSNR
// (at deviation 0, the PSNR against the input itself). Not a test: its
// numbers guide the constants in noise_measure.cpp and strength_rule.cpp.
//
// With --curve each line ends with the PSNR at Level 0, 25, ..., 400 and the
// rule's Dynamic.
//
// Usage: velbrin_noise_calibrate [--sigmas 0,5,10,20] [--curve] PICTURE.ppm...
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/kernels/smooth.h"
#include "engine/setting_ranges.h"
#include "engine/strength/frame_strength.h"
#include "engine/strength/noise_measure.h"
#include "engine/strength/strength_rule.h"
#include "tests/support/frame_error.h"

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // BGRX, top row first
};

bool read_ppm(const std::string& path, Picture& out) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> out.width >> out.height >> maxval;
  in.get();
  if (!in || magic != "P6" || maxval != 255) return false;
  std::vector<unsigned char> rgb(size_t(out.width) * out.height * 3);
  in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
  if (!in) return false;
  out.pixels.resize(size_t(out.width) * out.height);
  for (size_t i = 0; i < out.pixels.size(); ++i)
    out.pixels[i] = uint32_t(rgb[3 * i + 2]) | uint32_t(rgb[3 * i + 1]) << 8 | uint32_t(rgb[3 * i]) << 16;
  return true;
}

std::vector<uint32_t> with_noise(const Picture& p, double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  std::vector<uint32_t> out(p.pixels.size());
  for (size_t i = 0; i < out.size(); ++i) {
    uint32_t v = 0;
    for (int c = 0; c < 3; ++c) {
      const double x = double((p.pixels[i] >> (8 * c)) & 0xff) + (sigma > 0 ? noise(rng) : 0.0);
      const long r = std::lround(x);
      v |= uint32_t(r < 0 ? 0 : (r > 255 ? 255 : r)) << (8 * c);
    }
    out[i] = v;
  }
  return out;
}

double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  const double mse = mean_squared_error(a, b);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::vector<uint32_t> filtered(const std::vector<uint32_t>& in, int w, int h, int level, int dynamic) {
  std::vector<uint32_t> out(in.size());
  const SmoothFrame frame{in.data(), out.data(), w, h, w};
  smooth_frame(frame, SmoothParams{level, dynamic, 0, 0});
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<double> sigmas = {0, 5, 10, 20};
  std::vector<std::string> paths;
  bool curve = false;  // --curve: PSNR at Level 0, 25, ..., 400 with the rule's Dynamic
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--curve") {
      curve = true;
    } else if (a == "--sigmas" && i + 1 < argc) {
      sigmas.clear();
      std::stringstream list(argv[++i]);
      std::string item;
      while (std::getline(list, item, ',')) sigmas.push_back(std::atof(item.c_str()));
    } else {
      paths.push_back(a);
    }
  }
  std::printf("%-28s %5s %7s %6s %7s %6s %7s %7s %7s %10s\n", "picture", "sigma", "meas", "level", "rule", "auto",
              "autoP", "best", "noisy", "best(L,D)");
  unsigned seed = 1;
  for (const std::string& path : paths) {
    Picture p;
    if (!read_ppm(path, p)) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    for (double sigma : sigmas) {
      const std::vector<uint32_t> noisy = with_noise(p, sigma, seed++);
      const NoiseMeasure m = measure_noise(noisy.data(), p.width, p.height, ptrdiff_t{p.width} * 4);
      const StrengthSettings s = strength_for_noise_q8(m.sigma_q8);
      const StrengthSettings a = strength_of_frame(noisy.data(), p.width, p.height, ptrdiff_t{p.width} * 4).settings;
      // Against the clean picture; at deviation 0 that is the input itself.
      const double rule = psnr(filtered(noisy, p.width, p.height, s.level, s.dynamic), p.pixels);
      const double checked =
          a.level == s.level ? rule : psnr(filtered(noisy, p.width, p.height, a.level, a.dynamic), p.pixels);
      double best = -1;
      int best_level = 0, best_dynamic = 0;
      if (sigma > 0)
        for (int level = 0; level <= kLevelMax; level += 25)
          for (int dynamic : {3, 5, 8, 10}) {
            const double q = psnr(filtered(noisy, p.width, p.height, level, dynamic), p.pixels);
            if (q > best) best = q, best_level = level, best_dynamic = dynamic;
          }
      const std::string name = path.substr(path.find_last_of('/') + 1);
      std::printf("%-28s %5.1f %7.2f %6d %7.2f %6d %7.2f %7.2f %7.2f %6d,%-3d |", name.c_str(), sigma, m.sigma, s.level,
                  rule, a.level, checked, best, psnr(noisy, p.pixels), best_level, best_dynamic);
      if (curve)
        for (int level = 0; level <= kLevelMax; level += 25)
          std::printf(" %5.2f", psnr(filtered(noisy, p.width, p.height, level, kAutoDynamic), p.pixels));
      std::printf("\n");
      std::fflush(stdout);
    }
  }
  return 0;
}
