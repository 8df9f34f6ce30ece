"""FFmpeg's denoisers as the benchmark runs them: the filter chain for a
setting, the grid of settings tried at each noise level, and the same chain
with the filter left out (to subtract the conversions' processor time).

Filters that take planar RGB get the frames as they are; hqdn3d and
smartblur do not, so they work in YUV 4:4:4 (16-bit for hqdn3d, which takes
it and so loses nothing on the way; 8-bit for smartblur, whose round trip
costs about 53 dB, far above every result here)."""
from dataclasses import dataclass

SCALE = "scale=flags=accurate_rnd+full_chroma_int"


@dataclass(frozen=True)
class Denoiser:
    name: str
    pixel_format: str  # the format the filter works in
    grid: object  # (sigma, quick) -> list of settings dicts
    video_grid: object = None  # (best photo setting, sigma, quick) -> settings for the clip
    note: str = ""

    def chain(self, setting):
        """The -vf chain with the filter at `setting` (None: the filter left out)."""
        body = "null" if setting is None else self.name + "=" + ":".join(f"{k}={v}" for k, v in setting.items())
        if self.pixel_format == "gbrp":
            return f"format=gbrp,{body},format=rgb24"
        return f"{SCALE},format={self.pixel_format},{body},{SCALE},format=rgb24"

    def settings_for_clip(self, best, sigma, quick):
        return [best] if self.video_grid is None else self.video_grid(best, sigma, quick)


def _round(value, digits=2):
    return float(f"{value:.{digits}f}")


def _scaled(sigma, factors, low, high):
    return sorted({_round(min(high, max(low, sigma * f))) for f in factors})


def _hqdn3d_grid(sigma, quick):
    # Spatial only on the stills (unrelated pictures follow each other);
    # chroma at the filter's own ratio to luma (3/4).
    spatial = [sigma * 1.2] if quick else [sigma * f for f in (0.5, 0.8, 1.2, 1.7)]
    return [{"luma_spatial": _round(s), "chroma_spatial": _round(0.75 * s), "luma_tmp": 0, "chroma_tmp": 0}
            for s in spatial]


def _hqdn3d_clip(best, sigma, quick):
    # On the clip the temporal part can help: its strength at 0, half, 1 and
    # 2 x the spatial one (the filter's default ratio is 1.5).
    factors = (0, 1.5) if quick else (0, 0.5, 1.0, 1.5, 2.5)
    return [dict(best, luma_tmp=_round(f * best["luma_spatial"]), chroma_tmp=_round(f * best["chroma_spatial"]))
            for f in factors]


def _fftdnoiz_clip(best, sigma, quick):
    return [best, dict(best, prev=1, next=1)]


def _smartblur_grid(sigma, quick):
    # A positive threshold leaves edges stronger than it alone.
    radii = [0.8] if quick else [0.5, 0.8, 1.2, 2.0]
    thresholds = [min(30, round(2.5 * sigma))] if quick else sorted({0, min(30, round(1.2 * sigma)), min(30, round(2.5 * sigma))})
    return [{"luma_radius": r, "luma_strength": 1.0, "luma_threshold": t} for r in radii for t in thresholds]


def _bilateral_grid(sigma, quick):
    spatial = [4] if quick else [2, 4, 8]
    range_factors = [3] if quick else [2, 3, 4.5]
    return [{"sigmaS": s, "sigmaR": _round(min(1.0, f * sigma / 255), 3)} for s in spatial for f in range_factors]


DENOISERS = [
    Denoiser("hqdn3d", "yuv444p16", _hqdn3d_grid, _hqdn3d_clip, "spatial only on the photos; temporal added on the clip"),
    Denoiser("nlmeans", "gbrp",
             lambda sigma, quick: [{"s": s} for s in _scaled(sigma, (0.8,) if quick else (0.6, 0.8, 1.0, 1.25), 1, 30)],
             note="patch 7, research window 15 (the defaults)"),
    Denoiser("bm3d", "gbrp",
             lambda sigma, quick: [{"sigma": s} for s in _scaled(sigma, (3.0,) if quick else (2.0, 3.0, 4.0), 1, 999)],
             note="basic estimate, the other options at their defaults"),
    Denoiser("fftdnoiz", "gbrp",
             lambda sigma, quick: [{"sigma": s} for s in _scaled(sigma, (1.0,) if quick else (0.6, 1.0, 1.6, 2.5, 4.0), 0.1, 100)],
             _fftdnoiz_clip, "one frame on the photos; on the clip also with the previous and next"),
    Denoiser("dctdnoiz", "gbrp",
             lambda sigma, quick: [{"sigma": s} for s in _scaled(sigma, (1.0,) if quick else (0.7, 1.0, 1.4), 1, 999)]),
    Denoiser("vaguedenoiser", "gbrp",
             lambda sigma, quick: [{"threshold": t} for t in _scaled(sigma, (1.5,) if quick else (1.0, 1.5, 2.2, 3.2), 0.5, 999)]),
    Denoiser("smartblur", "yuv444p", _smartblur_grid),
    Denoiser("bilateral", "gbrp", _bilateral_grid),
    Denoiser("median", "gbrp", lambda sigma, quick: [{"radius": r} for r in ([1] if quick else [1, 2])]),
]


def setting_label(setting):
    return ", ".join(f"{k} {v:g}" if isinstance(v, (int, float)) else f"{k} {v}" for k, v in setting.items())
