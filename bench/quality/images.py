"""The benchmark's pictures: clean photos that Debian packages ship, cropped
to one size, a pan over another photo as a short clip, and the same with
synthetic Gaussian noise from a fixed seed."""
from pathlib import Path

import numpy as np
import skimage.io

SKIMAGE_DATA = Path("/usr/lib/python3/dist-packages/skimage/data")
OPENCV_DATA = Path("/usr/share/doc/opencv-doc/examples/data")

# Colour photographs of varied content (faces, fur, food, buildings,
# machinery, fine foliage); each is at least 512x384.
PHOTOS = [
    SKIMAGE_DATA / "astronaut.png",
    SKIMAGE_DATA / "coffee.png",
    SKIMAGE_DATA / "rocket.jpg",
    SKIMAGE_DATA / "motorcycle_left.png",
    OPENCV_DATA / "baboon.jpg",
    OPENCV_DATA / "fruits.jpg",
    OPENCV_DATA / "building.jpg",
    OPENCV_DATA / "squirrel_cls.jpg",
]
# The clip pans over a photo that none of the stills come from.
CLIP_SOURCE = OPENCV_DATA / "aloeL.jpg"

PHOTO_SIZE = (384, 512)  # rows, columns
CLIP_SIZE = (360, 640)
# Whole pixels per frame, so every clean frame is an exact crop of the source
# (no resampling that would soften it).
CLIP_STEP = (3, 8)


def load_rgb(path):
    picture = skimage.io.imread(path)
    if picture.ndim == 2:
        picture = np.stack([picture] * 3, axis=-1)
    return np.ascontiguousarray(picture[..., :3].astype(np.uint8))


def centre_crop(picture, size):
    rows, cols = size
    if picture.shape[0] < rows or picture.shape[1] < cols:
        raise ValueError(f"picture {picture.shape[:2]} is smaller than the crop {size}")
    top = (picture.shape[0] - rows) // 2
    left = (picture.shape[1] - cols) // 2
    return picture[top:top + rows, left:left + cols]


def photo_names(count):
    """The photos' names, as the page shows them: the file name's stem."""
    return [Path(path).stem for path in PHOTOS[:count]]


def clean_photos(count, size=PHOTO_SIZE):
    return [centre_crop(load_rgb(path), size) for path in PHOTOS[:count]]


def pan_frames(source, frames, size=CLIP_SIZE, step=CLIP_STEP):
    """Crops of `source` moving by `step` pixels per frame from the top left."""
    rows, cols = size
    last = ((frames - 1) * step[0] + rows, (frames - 1) * step[1] + cols)
    if last[0] > source.shape[0] or last[1] > source.shape[1]:
        raise ValueError(f"a {frames}-frame pan of {size} does not fit in {source.shape[:2]}")
    return [source[i * step[0]:i * step[0] + rows, i * step[1]:i * step[1] + cols].copy() for i in range(frames)]


def clean_clip(frames):
    return pan_frames(load_rgb(CLIP_SOURCE), frames)


def add_noise(frames, sigma, seed):
    """Gaussian noise of standard deviation `sigma` on the 8-bit scale,
    independent per pixel, channel and frame, rounded and clipped to 0..255.
    The same seed gives the same noise."""
    rng = np.random.default_rng(seed)
    noisy = []
    for frame in frames:
        values = frame.astype(np.float64) + rng.normal(0.0, sigma, frame.shape)
        noisy.append(np.clip(np.rint(values), 0, 255).astype(np.uint8))
    return noisy


def write_sequence(frames, folder):
    """Frames as folder/01.png, 02.png, ... (numbered from 1, as velbrin and
    ffmpeg number the pictures they write)."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for i, frame in enumerate(frames, start=1):
        skimage.io.imsave(folder / f"{i:02d}.png", frame, check_contrast=False)
    return folder / "%02d.png"


def read_sequence(folder, count):
    return [load_rgb(Path(folder) / f"{i:02d}.png") for i in range(1, count + 1)]
