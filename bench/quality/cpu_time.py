"""Processor time per megapixel per core: the filter's command against the
same command with the filter off, on the noisy clip fed through a pipe,
medians of interleaved repeats."""
import math
import statistics

from commands import processor_seconds


def feeder(clip, frames):
    """ffmpeg writing `frames` frames of the raw clip, looped, to its output."""
    return ["ffmpeg", "-nostdin", "-v", "error", "-stream_loop", "-1", "-i", str(clip),
            "-frames:v", str(frames), "-c", "copy", "-f", "nut", "-"]


def frames_for(seconds_per_frame, target_seconds, low, high):
    """Enough frames for the filter to take about `target_seconds`, within
    [low, high]; a filter too fast to see in a short run gets `high`."""
    if seconds_per_frame <= 0:
        return high
    return max(low, min(high, math.ceil(target_seconds / seconds_per_frame)))


def ms_per_megapixel(filtered, baseline, clip, megapixels_per_frame, repeats, target_seconds, max_frames):
    """Milliseconds of processor time per megapixel that `filtered` spends
    beyond `baseline`. A short first pass sizes the run; then both commands
    alternate `repeats` times so that a busy machine slows them alike."""
    probe = 4
    first = processor_seconds(filtered, feeder(clip, probe)) - processor_seconds(baseline, feeder(clip, probe))
    frames = frames_for(first / probe, target_seconds, probe, max_frames)
    with_filter, without = [], []
    for _ in range(repeats):
        with_filter.append(processor_seconds(filtered, feeder(clip, frames)))
        without.append(processor_seconds(baseline, feeder(clip, frames)))
    extra = statistics.median(with_filter) - statistics.median(without)
    return 1000.0 * extra / (frames * megapixels_per_frame), frames
