// The luma weights of red and blue (Kr, Kb) of the colour spaces velbrin
// converts itself, for both directions of conversion.
#pragma once

#include <optional>

#include "cli/media/av_helpers.h"

struct LumaWeights {
  double kr;
  double kb;
};

inline std::optional<LumaWeights> luma_weights(AVColorSpace space) {
  switch (space) {
    case AVCOL_SPC_UNSPECIFIED:  // BT.601, as FFmpeg assumes when nothing is said
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
      return LumaWeights{0.299, 0.114};
    case AVCOL_SPC_BT709:
      return LumaWeights{0.2126, 0.0722};
    case AVCOL_SPC_BT2020_NCL:
      return LumaWeights{0.2627, 0.0593};
    case AVCOL_SPC_FCC:
      return LumaWeights{0.30, 0.11};
    case AVCOL_SPC_SMPTE240M:
      return LumaWeights{0.212, 0.087};
    default:
      return std::nullopt;
  }
}
