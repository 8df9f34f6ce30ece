"""Velbrin's settings as the benchmark tries them. Their ranges, defaults
and the rule from noise to settings come from the engine, through
bench/velbrin_rule_settings, so the benchmark keeps no copy of them."""
import subprocess


def parse_ranges(text):
    """{"level": (min, max, default), "dynamic": (...)} from the tool's
    --ranges lines."""
    ranges = {}
    for line in text.splitlines():
        name, low, high, default = line.split()
        ranges[name] = (int(low), int(high), int(default))
    if set(ranges) != {"level", "dynamic"}:
        raise ValueError(f"unexpected settings: {text!r}")
    return ranges


def around(centre, level_steps, dynamic_steps, ranges):
    """Settings at the given steps from `centre`, kept within the ranges,
    each once."""
    def within(name, value):
        low, high, _ = ranges[name]
        return min(high, max(low, value))

    settings = []
    for l in level_steps:
        for d in dynamic_steps:
            setting = {"level": within("level", centre["level"] + l), "dynamic": within("dynamic", centre["dynamic"] + d)}
            if setting not in settings:
                settings.append(setting)
    return settings


def coarse_grid(ranges, quick):
    """Level in steps of 50 up to its top, Dynamic in steps of 2."""
    level_low, level_high, _ = ranges["level"]
    dynamic_low, dynamic_high, _ = ranges["dynamic"]
    if quick:
        levels, dynamics = (level_high // 4, level_high // 2, level_high), (dynamic_high // 2, dynamic_high - 2)
    else:
        levels = range(max(level_low, 50), level_high + 1, 50)
        dynamics = range(dynamic_low, dynamic_high + 1, 2)
    return [{"level": l, "dynamic": d} for l in levels for d in dynamics]


class VelbrinSettings:
    def __init__(self, tool):
        self.tool = str(tool)
        self.ranges = parse_ranges(self._ask("--ranges"))
        self.default = {"level": self.ranges["level"][2], "dynamic": self.ranges["dynamic"][2]}

    def _ask(self, argument):
        return subprocess.run([self.tool, argument], check=True, capture_output=True, text=True).stdout

    def rule(self, sigma):
        level, dynamic = (int(v) for v in self._ask(str(sigma)).split())
        return {"level": level, "dynamic": dynamic}
