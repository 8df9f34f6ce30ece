"""The command lines the benchmark runs: ffmpeg with one denoiser, velbrin
at one setting, each on one processor (decoder, filter and encoder), and the
child's processor time."""
import os
import subprocess

FFMPEG = ["ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-threads", "1", "-filter_threads", "1"]


def ffmpeg_filter(chain, source, output):
    """`source` filtered by `chain` into `output` (a picture pattern)."""
    return FFMPEG + ["-i", str(source), "-vf", chain, "-threads", "1", "-y", str(output)]


def velbrin_filter(velbrin, options, source, output):
    return [str(velbrin), "--threads", "1", "-q", "-y", *options, str(source), str(output)]


def velbrin_options(setting):
    """velbrin's options for a setting: {"level": L, "dynamic": D}, {"auto":
    True}, or {"disable": True} (the module runs and passes frames through)."""
    if setting.get("auto"):
        return ["--auto"]
    if setting.get("disable"):
        return ["--disable"]
    return ["--level", str(setting["level"]), "--dynamic", str(setting["dynamic"])]


def run(command):
    """Runs `command`; raises with its messages if it fails."""
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed ({done.returncode}): {done.stderr.strip()[-2000:]}")


def processor_seconds(command, feeder):
    """User + system seconds of `command` alone, reading the stream that
    `feeder` writes to its standard output (the feeder's own time is not
    counted) and writing to nowhere."""
    feed = subprocess.Popen(feeder, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    child = subprocess.Popen(command, stdin=feed.stdout, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    feed.stdout.close()
    errors = child.stderr.read()
    child.stderr.close()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    feed.wait()
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed ({child.returncode}): {errors.decode(errors='replace')[-2000:]}")
    return usage.ru_utime + usage.ru_stime
