"""The page docs/quality.md, written from one run's numbers so that the page
cannot say what the run did not measure."""
from denoisers import setting_label
from figures import FLOOR_MS, setting_text

VELBRIN_LABELS = ["Velbrin best", "Velbrin default", "Velbrin rule", "Velbrin auto"]


def row_labels(points, sigma):
    velbrin = [l for l in VELBRIN_LABELS if (sigma, "photos", l) in points]
    others = sorted((l for (s, subject, l) in points if s == sigma and subject == "photos"
                     and not l.startswith("Velbrin") and l != "noisy input"),
                    key=lambda l: -points[sigma, "photos", l]["psnr"])
    return velbrin + others


def describe(label, setting):
    if label.startswith("Velbrin"):
        return setting_text(setting).strip("()") if setting else ""
    return setting_label(setting)


def ms_text(point):
    if "ms_per_mp" not in point:
        return "–"
    ms = point["ms_per_mp"]
    return f"< {FLOOR_MS:g} (not measurable)" if ms < FLOOR_MS else f"{ms:.1f}" if ms < 100 else f"{ms:.0f}"


def table(points, sigma):
    lines = ["| filter | setting (photos) | PSNR photos | SSIM photos | setting (clip) | PSNR clip | SSIM clip | ms/MP |",
             "|---|---|---|---|---|---|---|---|"]
    for label in row_labels(points, sigma):
        p, c = points[sigma, "photos", label], points[sigma, "clip", label]
        lines.append(f"| {label} | {describe(label, p['setting'])} | {p['psnr']:.2f} | {p['ssim']:.4f} "
                     f"| {describe(label, c['setting'])} | {c['psnr']:.2f} | {c['ssim']:.4f} | {ms_text(p)} |")
    p, c = points[sigma, "photos", "noisy input"], points[sigma, "clip", "noisy input"]
    lines.append(f"| noisy input | | {p['psnr']:.2f} | | | {c['psnr']:.2f} | | |")
    return "\n".join(lines)


def pictures_table(points, sigmas, names):
    """`--auto` on each photo against the best setting for that photo alone
    (of every setting Velbrin's grid tried), and the rule and default there."""
    lines = ["| σ | picture | auto | best for this picture (Level, Dynamic) | auto − best | rule − best | default − best |",
             "|---|---|---|---|---|---|---|"]
    worst = {}
    for sigma in sigmas:
        tried = points[sigma, "photos", "Velbrin best"]["per_picture"]
        auto = points[sigma, "photos", "Velbrin auto"]["pictures"]
        rule = points[sigma, "photos", "Velbrin rule"]["pictures"]
        default = points[sigma, "photos", "Velbrin default"]["pictures"]
        for k, name in enumerate(names):
            candidates = [(setting_text(s).strip("()"), pictures[k]) for s, pictures in tried]
            candidates += [("auto's", auto[k]), ("the rule's", rule[k]), ("the default", default[k])]
            label, best = max(candidates, key=lambda t: t[1])
            worst[sigma] = min(worst.get(sigma, 0.0), auto[k] - best)
            lines.append(f"| {sigma} | {name} | {auto[k]:.2f} | {best:.2f} ({label}) "
                         f"| {auto[k] - best:+.2f} | {rule[k] - best:+.2f} | {default[k] - best:+.2f} |")
    summary = "; ".join(f"σ {s}: {max(0.0, -worst[s]):.2f} dB" for s in sigmas)
    return "\n".join(lines), summary


def ratio_text(ratio):
    return f"{ratio:.0f}×" if ratio >= 10 else f"{ratio:.1f}×"


def standing(points, sigma):
    """What the numbers at one sigma say about Velbrin against the rest."""
    velbrin = points[sigma, "photos", "Velbrin best"]
    others = [(l, points[sigma, "photos", l]) for l in row_labels(points, sigma) if not l.startswith("Velbrin")]
    cost = max(FLOOR_MS, velbrin.get("ms_per_mp", FLOOR_MS))
    ahead = [(l, p) for l, p in others if p["psnr"] > velbrin["psnr"]]
    behind = [(l, p) for l, p in others if p["psnr"] <= velbrin["psnr"]]
    text = [f"**σ {sigma}.** Velbrin at its best setting ({setting_text(velbrin['setting']).strip('()')}) reaches "
            f"{velbrin['psnr']:.2f} dB on the photos at {ms_text(velbrin)} ms/MP."]
    if ahead:
        text.append("Ahead of it: " + "; ".join(
            f"{l} by {p['psnr'] - velbrin['psnr']:.2f} dB at {ratio_text(max(FLOOR_MS, p['ms_per_mp']) / cost)} its processor time"
            for l, p in ahead) + ".")
    else:
        text.append("No other filter measured here does better.")
    if behind:
        margins = [velbrin["psnr"] - p["psnr"] for _, p in behind]
        text.append(f"It leads {', '.join(l for l, _ in behind)} by {min(margins):.2f}–{max(margins):.2f} dB.")
    default = points[sigma, "photos", "Velbrin default"]
    text.append(f"The default (100, 5) gives {default['psnr']:.2f} dB, {velbrin['psnr'] - default['psnr']:.2f} dB below the best setting")
    extra = []
    for label, name in (("Velbrin rule", "the rule for the true σ"), ("Velbrin auto", "`--auto`")):
        if (sigma, "photos", label) in points:
            p = points[sigma, "photos", label]
            shown = "" if p["setting"].get("auto") else " " + setting_text(p["setting"])
            extra.append(f"{name}{shown} gives {p['psnr']:.2f} dB "
                         f"({p['psnr'] - velbrin['psnr']:+.2f} dB)")
    text[-1] += ("; " + "; ".join(extra) if extra else "") + "."
    return " ".join(text)


def grids(denoisers, sigmas, quick):
    lines = ["| filter | settings tried on the photos, per σ | on the clip | note |", "|---|---|---|---|"]
    for d in denoisers:
        tried = "<br>".join(f"σ {s}: " + "; ".join(setting_label(g) for g in d.grid(s, quick)) for s in sigmas)
        clip = "the photos' best" if d.video_grid is None else "the photos' best, and the variants in the note"
        lines.append(f"| {d.name} | {tried} | {clip} | {d.note} |")
    return "\n".join(lines)


def page(points, sigmas, run, denoisers, names):
    charts = "\n\n".join(f"![PSNR against processor time at σ {s}](quality-sigma{s}.png)\n\n{table(points, s)}"
                         for s in sigmas)
    pictures, worst = pictures_table(points, sigmas, names)
    verdicts = "\n\n".join(standing(points, s) for s in sigmas)
    warning = "\n**This page comes from a `--quick` run (a smoke check): its numbers are not the benchmark's.**\n" \
        if run["quick"] else ""
    fields = dict(run, minutes=f"{run['minutes']:.1f}")
    return TEMPLATE.format(charts=charts, verdicts=verdicts, grids=grids(denoisers, sigmas, run["quick"]),
                           warning=warning, pictures=pictures, worst=worst, **fields)


TEMPLATE = """# Velbrin among denoisers: quality against processor time
{warning}
How well Velbrin removes noise, and at what cost, next to FFmpeg's
denoisers, measured the way a user choosing a denoiser would: clean
pictures, synthetic noise of a known strength, every filter at its best
setting on a grid, one processor. Everything on this page, the tables, the
charts and the crops, comes from one run of

```sh
{command}
```

on {date}: {machine}, a machine shared with other work (load {load} at the
start, {load_after} at the end); the run took {minutes} minutes and
{runs} filter runs.

**The pictures.** {photos} clean colour photos that Debian packages ship
(`python3-skimage`: astronaut, coffee, rocket, motorcycle; `opencv-doc`:
baboon, fruits, building, squirrel), each cropped to 512×384 around its
centre, and a {frames}-frame 640×360 clip panning over another photo
(`opencv-doc`'s aloeL, 3 rows and 8 columns per frame, whole pixels so every
clean frame is an exact crop). Gaussian noise of standard deviation σ 5, 10
and 20 on the 8-bit scale is added independently per pixel, channel and
frame from a fixed seed; the noisy pictures are stored losslessly (PNG, the
clip as FFV1 RGB).

**Quality.** PSNR and SSIM in RGB against the clean frames
(`skimage.metrics`; SSIM with its default 7×7 window, the channels
averaged), averaged over the pictures so each counts alike. Each filter's
best setting is the one with the highest mean PSNR on the photos; on the
clip Velbrin searches again around its photos' best and the others keep
theirs (hqdn3d and fftdnoiz also try their temporal parts there).
Velbrin's grid is Level 50…400 in steps of 50 by Dynamic 0…10 in steps of
2, then Level ±25 and Dynamic ±1 around the best. *Velbrin rule* is the
setting that the rule velbrin uses for a measured noise gives for the true
σ; *Velbrin auto* is `velbrin --auto`, which measures each frame's noise
itself and checks the rule's Level on the frame.

**Processor time.** User plus system time of the filtering process alone,
one thread (`ffmpeg -threads 1 -filter_threads 1`, `velbrin --threads 1`),
reading the noisy clip as raw RGB through a pipe and writing to nowhere,
minus the same command with the filter off (ffmpeg: the same chain with
`null` in the filter's place, so its conversions are not counted; velbrin:
`--disable`, so the module still runs and only the smoothing is left out);
the median of 3 interleaved repeats, over enough frames for the filter to
take about 0.4 s. It is given per megapixel of RGB frame (ms/MP), so it is
also the cost per core. Velbrin's figures are small differences between
much larger totals (reading, converting and writing the frames), so they
vary by about a millisecond between its rows; `scripts/bench.sh` times its
smoothing alone. *Velbrin auto* also includes measuring each frame's noise
and checking its Level, which on these small frames reads a larger share
of each frame than on a large one (a fifth of the filter's time at 1080p).

## At each noise level

{charts}

## Auto, picture by picture

The tables above average the photos. Here is `velbrin --auto` on each of
them, against the best setting for that photo alone (of all the settings
Velbrin's grid tried at that σ, and the fixed rows), and the rule for the
true σ and the default on the same photo. `--auto` measures each frame's
noise, takes the rule's Level for it, and then checks that Level on the
frame itself (Stein's risk, on strips of the frame), lowering it where
smoothing would take more texture than noise. The most `--auto` gives up
on one photo: {worst}.

{pictures}

## Crops

![crops: clean, noisy, Velbrin, hqdn3d, nlmeans at each noise level](quality-crops.png)

## When Velbrin is the right pick, and when it is not

{verdicts}

So: where processor time counts (long videos, many files, a preview that
must keep up, an editor's timeline), Velbrin is the filter to choose
wherever the lines above show it ahead of the other fast filters; the
filters that lead it cost many times more per frame, and where one of them
leads by more than a few tenths of a dB and its cost does not matter (a few
stills, light noise), it is the better choice. These numbers are for
synthetic Gaussian noise, independent per pixel: the noise of real cameras
and of compressed video is coarser and correlated, and no filter here was
tuned for it; PSNR and SSIM are not what an eye sees, so look at the crops
too. The times are for one processor; all these filters also run on
several.

## The grids

{grids}

bilateral is FFmpeg 5.1's `bilateral` filter; median is `median` (the
percentile at 0.5). The grids scale with σ where the filter's strength is
on the pixel scale.
"""
