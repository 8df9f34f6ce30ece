// Thin glue between the host's activation record and the smoothing kernel:
// unpack the source bitmap's geometry and hand it to the frame splitter,
// which shares large frames' rows among the module's threads.
#include "engine/run_proc.h"

#include "engine/band_split.h"
#include "engine/smooth.h"

int VDCALL RunProc(const FilterActivation* fa, const FilterFunctions*) {
  const VFBitmap& src = *fa->src;
  // The destination is taken to have the source's geometry: only its pixel
  // pointer is read, and both frames are indexed with the source's stride.
  const SmoothFrame frame{src.data, fa->dst->data, src.w, src.h, smooth_stride(src.w, src.modulo)};
  smooth_frame_split(frame, static_cast<const FilterSettings*>(fa->filter_data));
  return 0;
}
