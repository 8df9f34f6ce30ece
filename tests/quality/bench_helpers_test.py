"""The quality benchmark's measuring parts: the scores against known values,
the noise it adds, the clip's frames and the processor-time baseline."""
import math
import sys
import unittest

import numpy as np

import commands
import cpu_time
import images
import metrics
import report
import velbrin_settings
from denoisers import DENOISERS

C1 = (0.01 * 255) ** 2  # SSIM's luminance constant for 8-bit data


def frame(value, shape=(48, 64, 3)):
    return np.full(shape, value, dtype=np.uint8)


def constant_ssim(a, b):
    """SSIM of two constant pictures: only the luminance term is left."""
    return (2 * a * b + C1) / (a * a + b * b + C1)


class Scores(unittest.TestCase):
    def test_psnr_against_known_values(self):
        one_channel_off = frame(100)
        one_channel_off[..., 2] = 110
        cases = [  # clean, result, dB
            (frame(100), frame(101), 10 * math.log10(255 ** 2 / 1)),
            (frame(100), frame(90), 10 * math.log10(255 ** 2 / 100)),
            # An error in one channel of three is a third of the mean square.
            (frame(100), one_channel_off, 10 * math.log10(255 ** 2 / (100 / 3))),
            (frame(0), frame(255), 0.0),
            (frame(7), frame(7), math.inf),
        ]
        for clean, result, expected in cases:
            with self.subTest(expected=expected):
                self.assertAlmostEqual(metrics.psnr(clean, result), expected, places=6)

    def test_ssim_against_known_values(self):
        one_channel_off = frame(100)
        one_channel_off[..., 1] = 130
        cases = [
            (frame(100), frame(100), 1.0),
            (frame(100), frame(110), constant_ssim(100, 110)),
            # Each channel on its own, then averaged (not one grey picture).
            (frame(100), one_channel_off, (2 + constant_ssim(100, 130)) / 3),
        ]
        for clean, result, expected in cases:
            with self.subTest(expected=expected):
                self.assertAlmostEqual(metrics.ssim(clean, result), expected, places=6)

    def test_a_set_scores_the_mean_of_its_pictures(self):
        # 48.13 and 28.13 dB average to 38.13; pooling the squared errors
        # first would give 31.1 and let one bad picture dominate.
        got = metrics.mean_over_frames(metrics.psnr, [frame(100), frame(100)], [frame(101), frame(110)])
        self.assertAlmostEqual(got, (10 * math.log10(255 ** 2) + 10 * math.log10(255 ** 2 / 100)) / 2, places=6)

    def test_mismatched_inputs_are_refused(self):
        for measure in (metrics.psnr, metrics.ssim):
            with self.subTest(measure=measure.__name__), self.assertRaises(ValueError):
                measure(frame(1), frame(1, (48, 64, 4)))
        with self.assertRaises(ValueError):
            metrics.mean_over_frames(metrics.psnr, [frame(1)], [frame(1), frame(1)])


class Noise(unittest.TestCase):
    def test_deviation_independence_and_seed(self):
        clean = [frame(128, (128, 128, 3)) for _ in range(2)]
        for sigma in (5, 10, 20):
            with self.subTest(sigma=sigma):
                noisy = images.add_noise(clean, sigma, seed=3)
                error = np.stack(noisy).astype(np.float64) - 128
                # Rounding adds 1/12 to the variance.
                self.assertAlmostEqual(error.std(), math.sqrt(sigma ** 2 + 1 / 12), delta=0.02 * sigma)
                self.assertLess(abs(error.mean()), 0.05 * sigma)
                pairs = [(error[0, ..., 0], error[0, ..., 1]),  # channels
                         (error[0, :, :-1, 0], error[0, :, 1:, 0]),  # neighbours
                         (error[0], error[1])]  # frames
                for a, b in pairs:
                    self.assertLess(abs(np.corrcoef(a.ravel(), b.ravel())[0, 1]), 0.03)
                again = images.add_noise(clean, sigma, seed=3)
                self.assertTrue(all(np.array_equal(a, b) for a, b in zip(noisy, again)))
                other = images.add_noise(clean, sigma, seed=4)
                self.assertFalse(np.array_equal(noisy[0], other[0]))

    def test_values_are_clipped_to_the_8_bit_range(self):
        noisy = images.add_noise([frame(0), frame(255)], 20, seed=1)
        self.assertEqual(noisy[0].dtype, np.uint8)
        self.assertEqual(noisy[0].min(), 0)
        self.assertEqual(noisy[1].max(), 255)


class Pan(unittest.TestCase):
    def test_every_frame_is_an_exact_shifted_crop(self):
        source = np.random.default_rng(0).integers(0, 256, (40, 60, 3), dtype=np.uint8)
        frames = images.pan_frames(source, 4, size=(20, 30), step=(3, 7))
        for i, f in enumerate(frames):
            self.assertTrue(np.array_equal(f, source[3 * i:3 * i + 20, 7 * i:7 * i + 30]))
        with self.assertRaises(ValueError):
            images.pan_frames(source, 5, size=(20, 30), step=(3, 8))


class ProcessorTime(unittest.TestCase):
    def test_baseline_differs_from_the_filtered_chain_only_by_the_filter(self):
        # Otherwise the subtraction would charge (or credit) the filter with
        # the format conversions around it.
        for d in DENOISERS:
            setting = d.grid(10, False)[0]
            with self.subTest(filter=d.name):
                filtered, baseline = d.chain(setting).split(","), d.chain(None).split(",")
                is_filter = [part.startswith(d.name + "=") for part in filtered]
                self.assertEqual(sum(is_filter), 1)
                self.assertEqual(["null" if f else part for part, f in zip(filtered, is_filter)], baseline)

    def test_run_length(self):
        cases = [  # seconds per frame, target, low, high -> frames
            (0.01, 0.4, 4, 600, 40),
            (0.3, 0.4, 4, 600, 4),  # slow filters: the fewest frames
            (0.0001, 0.4, 4, 600, 600),  # fast ones: the most
            (-0.002, 0.4, 4, 600, 600),  # a probe lost in the baseline's noise
            (0.0, 0.4, 4, 600, 600),
        ]
        for per_frame, target, low, high, expected in cases:
            with self.subTest(per_frame=per_frame):
                self.assertEqual(cpu_time.frames_for(per_frame, target, low, high), expected)

    def test_only_the_filtering_process_is_charged(self):
        burn = [sys.executable, "-c", "import time\nend = time.process_time() + 0.3\nwhile time.process_time() < end: pass"]
        quiet_feed = ["true"]
        busy_feed = burn[:2] + [burn[2] + "\nprint('frames')"]
        self.assertGreater(commands.processor_seconds(burn, quiet_feed), 0.25)
        self.assertLess(commands.processor_seconds(["cat"], busy_feed), 0.15)
        with self.assertRaises(RuntimeError):
            commands.processor_seconds(["false"], quiet_feed)


class Pictures(unittest.TestCase):
    def test_every_photo_is_there_at_the_benchmark_size(self):
        photos = images.clean_photos(len(images.PHOTOS))
        self.assertEqual(len(photos), 8)
        for path, photo in zip(images.PHOTOS, photos):
            with self.subTest(photo=path.name):
                self.assertEqual((photo.shape, photo.dtype), ((*images.PHOTO_SIZE, 3), np.uint8))
                self.assertGreater(photo.std(), 10)  # a picture, not a blank


class FilterChains(unittest.TestCase):
    def test_ffmpeg_takes_every_chain_the_grids_make(self):
        # A misspelt option or a value out of the filter's range would end
        # that filter's whole grid in an error halfway through a run.
        # The weakest setting at the lowest noise, the strongest at the
        # highest (with its variants on the clip), and the filter left out.
        for d in DENOISERS:
            weakest, strongest = d.grid(5, False)[0], d.grid(20, False)[-1]
            for setting in [weakest, *d.settings_for_clip(strongest, 20, False), None]:
                with self.subTest(filter=d.name, setting=setting):
                    commands.run(commands.FFMPEG + ["-f", "lavfi", "-i", "testsrc2=size=64x48", "-frames:v", "1",
                                                    "-vf", d.chain(setting), "-f", "null", "-"])


RANGES = velbrin_settings.parse_ranges("level 0 400 100\ndynamic 0 10 5\n")


class VelbrinGrid(unittest.TestCase):
    def test_ranges_from_the_engine_tool(self):
        self.assertEqual(RANGES, {"level": (0, 400, 100), "dynamic": (0, 10, 5)})
        with self.assertRaises(ValueError):
            velbrin_settings.parse_ranges("level 0 400 100\n")

    def test_steps_around_a_setting_stay_in_range_once_each(self):
        cases = [  # centre, level steps, dynamic steps -> settings
            ((200, 5), (-25, 25), (0,), [(175, 5), (225, 5)]),
            ((400, 10), (0, 25), (-1, 0, 1), [(400, 9), (400, 10)]),
            ((25, 0), (-50, 0), (0, 2), [(0, 0), (0, 2), (25, 0), (25, 2)]),
        ]
        for (level, dynamic), level_steps, dynamic_steps, expected in cases:
            with self.subTest(centre=(level, dynamic)):
                got = velbrin_settings.around({"level": level, "dynamic": dynamic}, level_steps, dynamic_steps, RANGES)
                self.assertEqual([(s["level"], s["dynamic"]) for s in got], expected)

    def test_the_coarse_grid_reaches_both_ends(self):
        grid = velbrin_settings.coarse_grid(RANGES, quick=False)
        self.assertEqual({s["level"] for s in grid}, set(range(50, 401, 50)))
        self.assertEqual({s["dynamic"] for s in grid}, {0, 2, 4, 6, 8, 10})


def point(psnr, ms, setting=None):
    return {"psnr": psnr, "ssim": 0.9, "ms_per_mp": ms, "setting": setting or {}}


class Verdict(unittest.TestCase):
    def test_who_leads_by_how_much_at_what_cost(self):
        points = {}
        for subject in ("photos", "clip"):
            points.update({
                (10, subject, "Velbrin best"): point(33.0, 2.0, {"level": 200, "dynamic": 8}),
                (10, subject, "Velbrin default"): point(31.5, 2.0, {"level": 100, "dynamic": 5}),
                (10, subject, "slow"): point(33.5, 1000.0, {"s": 1}),
                (10, subject, "fast"): point(30.0, 0.01, {"s": 2}),
                (10, subject, "cheap"): point(33.2, 1.0, {"s": 3}),
                (10, subject, "costly"): point(32.0, 50.0, {"s": 4}),
                (10, subject, "noisy input"): {"psnr": 28.1, "setting": None},
            })
        text = report.standing(points, 10)
        self.assertIn("Ahead of it: slow by 0.50 dB at 500× its processor time; "
                      "cheap by 0.20 dB at 0.5× its processor time.", text)
        self.assertIn("It leads costly, fast by 1.00–3.00 dB.", text)
        self.assertIn("1.50 dB below the best setting", text)
        self.assertIn("| fast | s 2 | 30.00 |", report.table(points, 10))
        self.assertIn("not measurable", report.table(points, 10))


if __name__ == "__main__":
    unittest.main()
