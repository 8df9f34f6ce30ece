"""The pictures of the page: PSNR against processor time per noise level,
and crops of one photo through the filters."""
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import images  # noqa: E402
from metrics import psnr  # noqa: E402

VELBRIN_MARKERS = {"Velbrin best": ("*", 16), "Velbrin default": ("s", 9), "Velbrin rule": ("^", 10),
                   "Velbrin auto": ("D", 9)}
# A filter faster than the measurement can tell apart from its baseline is
# drawn at this floor (and its table entry says so).
FLOOR_MS = 0.1


def charts(points, sigmas, folder):
    for sigma in sigmas:
        figure, axes = plt.subplots(figsize=(10.5, 5.2), dpi=110)
        others = [(label, p) for (s, subject, label), p in points.items()
                  if s == sigma and subject == "photos" and "ms_per_mp" in p and not label.startswith("Velbrin")]
        placed = []
        for label, p in sorted(others, key=lambda o: o[1]["psnr"]):
            x = max(FLOOR_MS, p["ms_per_mp"])
            axes.plot(x, p["psnr"], "o", color="tab:gray", markersize=8)
            # A label that would sit on a neighbour's (close in both time
            # and PSNR) goes above its point instead.
            crowded = any(abs(np.log10(x / px)) < 0.3 and abs(p["psnr"] - py) < 0.3 for px, py in placed)
            axes.annotate(label, (x, p["psnr"]), textcoords="offset points", xytext=(7, 5 if crowded else -4),
                          fontsize=9)
            placed.append((x, p["psnr"]))
        for label, (marker, size) in VELBRIN_MARKERS.items():
            p = points.get((sigma, "photos", label))
            if p is None or "ms_per_mp" not in p:
                continue
            axes.plot(max(FLOOR_MS, p["ms_per_mp"]), p["psnr"], marker, markersize=size, linestyle="none",
                      label=f"{label} {setting_text(p['setting'])}: {p['psnr']:.2f} dB")
        noisy = points[sigma, "photos", "noisy input"]["psnr"]
        axes.axhline(noisy, color="tab:red", linestyle="--", linewidth=1, label=f"noisy input: {noisy:.2f} dB")
        axes.set_xscale("log")
        axes.set_xlabel("processor time, ms per megapixel on one core (log scale)")
        axes.set_ylabel("PSNR against the clean photos, dB (RGB)")
        axes.set_title(f"Gaussian noise σ {sigma}: quality against cost, each filter at its best setting")
        axes.grid(True, which="both", alpha=0.3)
        # Beside the plot, where it cannot hide a point.
        axes.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8.5)
        figure.tight_layout()
        figure.savefig(folder / f"quality-sigma{sigma}.png")
        plt.close(figure)


def setting_text(setting):
    if setting is None:
        return ""
    if setting.get("auto"):
        return "(--auto)"
    return f"({setting['level']}, {setting['dynamic']})"


def velbrin_shown(points, sigma):
    for label in ("Velbrin auto", "Velbrin rule", "Velbrin best"):
        if (sigma, "photos", label) in points:
            return label


# The crop: part of the first photo with a face, flat areas and
# fine detail (rows, columns of the top-left corner; size).
CROP_AT, CROP_SIZE, ZOOM = (0, 178), 150, 2


def crops(points, bench, sigmas, path):
    top, left = CROP_AT
    photo = 0
    clean = bench.clean["photos"][photo]
    shown = velbrin_shown(points, sigmas[0])
    columns = [None, "noisy", shown, "hqdn3d", "nlmeans"]
    figure, grid = plt.subplots(len(sigmas), len(columns), figsize=(3.2 * len(columns), 3.5 * len(sigmas)), dpi=100,
                                squeeze=False)
    for row, sigma in enumerate(sigmas):
        for col, key in enumerate(columns):
            if key is None:
                picture, caption = clean, "clean"
            else:
                if key == "noisy":
                    picture = images.read_sequence(bench.noisy_source[sigma, "photos"].parent, photo + 1)[photo]
                    caption = f"noisy σ {sigma}"
                else:
                    point = points[sigma, "photos", key]
                    picture = images.read_sequence(point["folder"], photo + 1)[photo]
                    caption = key if not key.startswith("Velbrin") else f"{key} {setting_text(point['setting'])}"
                caption += f"\n{psnr(clean, picture):.2f} dB"
            part = picture[top:top + CROP_SIZE, left:left + CROP_SIZE]
            part = np.kron(part, np.ones((ZOOM, ZOOM, 1), dtype=np.uint8))
            axes = grid[row][col]
            axes.imshow(part, interpolation="nearest")
            axes.set_xticks([])
            axes.set_yticks([])
            axes.set_title(caption, fontsize=10)
    figure.suptitle(f"Part of one photo ({CROP_SIZE}×{CROP_SIZE} pixels, enlarged) at each noise level; "
                    "each filter at its best setting, PSNR of the whole photo", fontsize=11)
    figure.tight_layout(rect=(0, 0, 1, 0.97))  # room for the title above the first row's captions
    figure.savefig(path)
    plt.close(figure)

