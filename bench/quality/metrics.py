"""Quality against the clean frames, in RGB on the 8-bit scale."""
import numpy as np
from skimage.metrics import peak_signal_noise_ratio, structural_similarity


def psnr(clean, result):
    """PSNR in dB of one RGB frame; identical frames give infinity."""
    if clean.shape != result.shape:
        raise ValueError(f"frame {result.shape} against clean {clean.shape}")
    with np.errstate(divide="ignore"):
        return float(peak_signal_noise_ratio(clean, result, data_range=255))


def ssim(clean, result):
    """Mean SSIM of one RGB frame (the three channels' means averaged)."""
    if clean.shape != result.shape:
        raise ValueError(f"frame {result.shape} against clean {clean.shape}")
    return float(structural_similarity(clean, result, data_range=255, channel_axis=-1))


def per_frame(measure, cleans, results):
    """`measure` of each pair of frames."""
    if len(cleans) != len(results) or not cleans:
        raise ValueError(f"{len(results)} results for {len(cleans)} clean frames")
    return [measure(c, r) for c, r in zip(cleans, results)]


def mean_over_frames(measure, cleans, results):
    """`measure` averaged over pairs of frames: the set's score is the mean of
    its pictures' scores, so each picture counts alike."""
    return float(np.mean(per_frame(measure, cleans, results)))
