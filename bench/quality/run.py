"""The quality benchmark: Velbrin and FFmpeg's denoisers on noisy photos and
a noisy clip, each at its best setting on a grid, PSNR and SSIM against the
clean frames, processor time per megapixel; writes the charts, the crops and
the page docs/quality.md. Run it with scripts/quality-bench.sh."""
import argparse
import concurrent.futures
import datetime
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import commands
import cpu_time
import figures
import images
import metrics
import report
from velbrin_settings import VelbrinSettings, around, coarse_grid
from denoisers import DENOISERS

SIGMAS = [5, 10, 20]


class Bench:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.quick = args.quick
        self.pool = concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs)
        self.runs = 0
        self.velbrin = VelbrinSettings(args.rule_tool)
        # The quick check runs one noise level.
        self.sigmas = [10] if args.quick else SIGMAS

    # --- data ---------------------------------------------------------
    def prepare(self):
        photos = 2 if self.quick else 8
        frames = 4 if self.quick else 30
        self.clean = {"photos": images.clean_photos(photos), "clip": images.clean_clip(frames)}
        self.noisy_source = {}
        self.timing_clip = {}
        for sigma in self.sigmas:
            for subject, seed in (("photos", 1000), ("clip", 2000)):
                noisy = images.add_noise(self.clean[subject], sigma, seed + sigma)
                pattern = images.write_sequence(noisy, self.work / f"s{sigma}" / f"{subject}-noisy")
                if subject == "photos":
                    self.noisy_source[sigma, subject] = pattern
                else:
                    clip = self.work / f"s{sigma}" / "clip-noisy.mkv"
                    commands.run(["ffmpeg", "-nostdin", "-v", "error", "-framerate", "25", "-i", str(pattern),
                                  "-c:v", "ffv1", "-pix_fmt", "gbrp", "-y", str(clip)])
                    self.noisy_source[sigma, subject] = clip
                    raw = self.work / f"s{sigma}" / "clip-noisy.nut"
                    commands.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(clip), "-c:v", "rawvideo",
                                  "-pix_fmt", "rgb24", "-y", str(raw)])
                    self.timing_clip[sigma] = raw

    def noisy_psnr(self, sigma, subject):
        """The noisy input's PSNR, read back from what the filters read."""
        source = self.noisy_source[sigma, subject]
        if subject == "photos":
            noisy = images.read_sequence(source.parent, len(self.clean[subject]))
        else:
            noisy = self.decode(source, subject)
        return metrics.mean_over_frames(metrics.psnr, self.clean[subject], noisy)

    def decode(self, clip, subject):
        folder = Path(tempfile.mkdtemp(dir=self.work))
        commands.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(clip), "-pix_fmt", "rgb24", str(folder / "%02d.png")])
        frames = images.read_sequence(folder, len(self.clean[subject]))
        shutil.rmtree(folder)
        return frames

    # --- one setting --------------------------------------------------
    def evaluate(self, sigma, subject, filter_name, setting):
        """Runs one filter at one setting; returns (mean PSNR, output folder,
        each picture's PSNR)."""
        out = Path(tempfile.mkdtemp(dir=self.work, prefix=f"{filter_name}-"))
        source = self.noisy_source[sigma, subject]
        if filter_name == "velbrin":
            command = commands.velbrin_filter(self.args.velbrin, commands.velbrin_options(setting), source, out / "%02d.png")
        else:
            denoiser = next(d for d in DENOISERS if d.name == filter_name)
            command = commands.ffmpeg_filter(denoiser.chain(setting), source, out / "%02d.png")
        commands.run(command)
        self.runs += 1
        results = images.read_sequence(out, len(self.clean[subject]))
        pictures = metrics.per_frame(metrics.psnr, self.clean[subject], results)
        return float(sum(pictures) / len(pictures)), out, pictures

    def best_of(self, sigma, subject, filter_name, settings):
        """The setting with the highest mean PSNR; the other outputs are
        removed. `per_picture` keeps each picture's PSNR at every setting."""
        futures = [(s, self.pool.submit(self.evaluate, sigma, subject, filter_name, s)) for s in settings]
        tried = [(s, *f.result()) for s, f in futures]
        best = max(tried, key=lambda t: t[1])
        for s, _, folder, _ in tried:
            if folder != best[2]:
                shutil.rmtree(folder)
        return {"setting": best[0], "psnr": best[1], "folder": best[2], "tried": len(tried),
                "pictures": best[3], "per_picture": [(s, pictures) for s, _, _, pictures in tried]}

    # --- Velbrin's points ---------------------------------------------
    def velbrin_grid(self, subject, centre):
        if subject == "photos":
            return coarse_grid(self.velbrin.ranges, self.quick)
        # On the clip, around the best setting on the photos.
        return around(centre, (0, 50) if self.quick else (-50, -25, 0, 25, 50), (0,) if self.quick else (-2, 0, 2),
                      self.velbrin.ranges)

    def velbrin_best(self, sigma, subject, centre=None):
        first = self.best_of(sigma, subject, "velbrin", self.velbrin_grid(subject, centre))
        if self.quick or subject != "photos":
            return first
        # A finer look around the coarse grid's best.
        second = self.best_of(sigma, subject, "velbrin", around(first["setting"], (-25, 0, 25), (-1, 0, 1), self.velbrin.ranges))
        winner, loser = (second, first) if second["psnr"] > first["psnr"] else (first, second)
        shutil.rmtree(loser["folder"])
        winner["tried"] = first["tried"] + second["tried"]
        winner["per_picture"] = first["per_picture"] + second["per_picture"]
        return winner

    # --- the whole run ------------------------------------------------
    def measure_quality(self):
        points = {}  # (sigma, subject, label) -> {"setting", "psnr", "folder", ...}
        for sigma in self.sigmas:
            for subject in ("photos", "clip"):
                log(f"sigma {sigma}, {subject}")
                centre = points.get((sigma, "photos", "Velbrin best"), {}).get("setting")
                points[sigma, subject, "Velbrin best"] = self.velbrin_best(sigma, subject, centre)
                fixed = {"Velbrin default": self.velbrin.default, "Velbrin rule": self.velbrin.rule(sigma),
                         "Velbrin auto": {"auto": True}}
                for label, setting in fixed.items():
                    points[sigma, subject, label] = self.best_of(sigma, subject, "velbrin", [setting])
                for d in DENOISERS:
                    if subject == "photos":
                        settings = d.grid(sigma, self.quick)
                    else:
                        settings = d.settings_for_clip(points[sigma, "photos", d.name]["setting"], sigma, self.quick)
                    points[sigma, subject, d.name] = self.best_of(sigma, subject, d.name, settings)
                points[sigma, subject, "noisy input"] = {"setting": None, "psnr": self.noisy_psnr(sigma, subject)}
        return points

    def measure_ssim(self, points):
        def one(key):
            point = points[key]
            if "folder" not in point:
                return
            subject = key[1]
            results = images.read_sequence(point["folder"], len(self.clean[subject]))
            point["ssim"] = metrics.mean_over_frames(metrics.ssim, self.clean[subject], results)
        list(self.pool.map(one, list(points)))

    def measure_speed(self, points):
        """ms/MP of every point on the photos, on the clip at the same sigma."""
        megapixels = images.CLIP_SIZE[0] * images.CLIP_SIZE[1] / 1e6
        repeats = 1 if self.quick else 3
        target = 0.05 if self.quick else 0.4
        most = 20 if self.quick else 600
        for (sigma, subject, label), point in points.items():
            if subject != "photos" or label == "noisy input":
                continue
            if label.startswith("Velbrin"):
                velbrin = self.args.velbrin
                tail = ["-", "-f", "nut", "--codec", "rawvideo", "-"]
                filtered = [str(velbrin), "--threads", "1", "-q", *commands.velbrin_options(point["setting"]), *tail]
                baseline = [str(velbrin), "--threads", "1", "-q", "--disable", *tail]
            else:
                denoiser = next(d for d in DENOISERS if d.name == label)
                filtered = commands.FFMPEG + ["-f", "nut", "-i", "-", "-vf", denoiser.chain(point["setting"]), "-f", "null", "-"]
                baseline = commands.FFMPEG + ["-f", "nut", "-i", "-", "-vf", denoiser.chain(None), "-f", "null", "-"]
            point["ms_per_mp"], point["timed_frames"] = cpu_time.ms_per_megapixel(
                filtered, baseline, self.timing_clip[sigma], megapixels, repeats, target, most)
            log(f"sigma {sigma} {label}: {point['ms_per_mp']:.1f} ms/MP ({point['timed_frames']} frames)")


def log(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", file=sys.stderr, flush=True)


def machine():
    model = "unknown processor"
    for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
    return model


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--velbrin", required=True, type=Path)
    parser.add_argument("--rule-tool", type=Path, required=True,
                        help="bench/velbrin_rule_settings: the settings' ranges, defaults and rule")
    parser.add_argument("--quick", action="store_true", help="a smoke check: fewer pictures, frames and settings")
    parser.add_argument("--out", type=Path, required=True, help="folder for the charts, crops and page")
    parser.add_argument("--jobs", type=int, default=2, help="filter runs side by side for the quality part")
    parser.add_argument("--command", default="scripts/quality-bench.sh", help="the command shown on the page")
    args = parser.parse_args()

    started = time.monotonic()
    load_before = Path("/proc/loadavg").read_text().split()[:3]
    args.out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="velbrin-quality-") as work:
        bench = Bench(args, Path(work))
        bench.prepare()
        points = bench.measure_quality()
        log(f"{bench.runs} filter runs; SSIM of the best settings")
        bench.measure_ssim(points)
        log("processor time")
        bench.measure_speed(points)
        figures.charts(points, bench.sigmas, args.out)
        figures.crops(points, bench, bench.sigmas, args.out / "quality-crops.png")
        minutes = (time.monotonic() - started) / 60
        run = {
            "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "machine": machine(), "load": " ".join(load_before),
            "load_after": " ".join(Path("/proc/loadavg").read_text().split()[:3]),
            "minutes": minutes, "runs": bench.runs, "quick": args.quick, "command": args.command,
            "photos": len(bench.clean["photos"]), "frames": len(bench.clean["clip"]),
        }
        page = report.page(points, bench.sigmas, run, DENOISERS, images.photo_names(len(bench.clean["photos"])))
        (args.out / "quality.md").write_text(page)
        bench.pool.shutdown()
    log(f"done in {minutes:.1f} minutes: {args.out / 'quality.md'}")


if __name__ == "__main__":
    main()
