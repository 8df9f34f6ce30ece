#!/usr/bin/python3
"""Writes the calibration pictures of the noise measurement and the rule as
binary PPM files into a folder: photographs that Debian's python3-skimage
and opencv-doc ship (grey ones made RGB), split into a calibration half and a
held-out half, so that what the rule is fitted on is checked on others.

Usage: bench/noise_pictures.py FOLDER    (then bench/noise_calibrate, see there)
"""
import os
import sys

import numpy as np
import skimage.data
import skimage.io

OPENCV = "/usr/share/doc/opencv-doc/examples/data/"
FIT = [("astronaut", "sk"), ("chelsea", "sk"), ("brick", "sk"), ("camera", "sk"), ("grass", "sk"),
       ("baboon.jpg", "cv"), ("fruits.jpg", "cv"), ("building.jpg", "cv"), ("starry_night.jpg", "cv"),
       ("aloeL.jpg", "cv")]
HELD_OUT = [("coffee", "sk"), ("rocket", "sk"), ("gravel", "sk"), ("immunohistochemistry", "sk"),
            ("leuvenA.jpg", "cv"), ("home.jpg", "cv"), ("messi5.jpg", "cv"), ("rubberwhale1.png", "cv"),
            ("graf1.png", "cv"), ("orange.jpg", "cv")]


def load(name, source):
    picture = getattr(skimage.data, name)() if source == "sk" else skimage.io.imread(OPENCV + name)
    picture = np.asarray(picture)
    if picture.ndim == 2:
        picture = np.stack([picture] * 3, axis=-1)
    return np.ascontiguousarray(picture[:, :, :3].astype(np.uint8))


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for half, names in (("fit", FIT), ("held", HELD_OUT)):
        for name, source in names:
            picture = load(name, source)
            h, w, _ = picture.shape
            path = os.path.join(folder, "%s-%s.ppm" % (half, os.path.splitext(name)[0]))
            with open(path, "wb") as f:
                f.write(b"P6\n%d %d\n255\n" % (w, h))
                f.write(picture.tobytes())
            print(path, w, h)


if __name__ == "__main__":
    main()
