// Thin glue between the host's activation record and the smoothing kernels:
// unpack the source bitmap's geometry, take the settings out of the
// instance's record, and hand both to the frame splitter, which shares
// large frames' rows among the module's threads.
#include "engine/run_proc.h"

#include "engine/band_split.h"
#include "engine/filter_settings.h"
#include "engine/kernels/smooth.h"

namespace {

// Level and Dynamic as they stand when the frame starts. The switches are
// followed in the record itself while the frame runs: the dialog writes them
// from its own thread as soon as they are clicked, and the preview frame
// under way picks the change up from the next row (see SmoothParams). The
// dialog's thread may write any of the four meanwhile (store_setting).
SmoothParams params_of(const FilterSettings& s) {
  SmoothParams p{load_setting(s.level), load_setting(s.dynamic), load_setting(s.showNoise), load_setting(s.disable)};
  p.live_show_noise = &s.showNoise;
  p.live_disable = &s.disable;
  return p;
}

}  // namespace

int VDCALL RunProc(const FilterActivation* fa, const FilterFunctions*) {
  const VFBitmap& src = *fa->src;
  // The destination is taken to have the source's geometry: only its pixel
  // pointer is read, and both frames are indexed with the source's stride.
  const SmoothFrame frame{src.data, fa->dst->data, src.w, src.h, smooth_stride(src.w, src.modulo)};
  smooth_frame_split(frame, params_of(*static_cast<const FilterSettings*>(fa->filter_data)));
  return 0;
}
