"""Where a page's time goes."""
import time


class Stopwatch:
    """Seconds spent in each step of a check, added up by step, in the order first met."""

    def __init__(self):
        self.steps = {}
        self.mark = time.monotonic()

    def lap(self, step):
        """Adds the time since the last lap to step."""
        now = time.monotonic()
        self.steps[step] = self.steps.get(step, 0.0) + now - self.mark
        self.mark = now

    def resume(self):
        """Starts the next lap now: the time since the last one went to no step."""
        self.mark = time.monotonic()
