"""Arrays kept from one collection to the next: fresh ones would cost tens of milliseconds per
million points in page faults on every frame."""

import numpy as np


class KeptArrays:
    def __init__(self):
        self._arrays = {}

    def take(self, key, rows, columns, dtype):
        """A C-contiguous (rows, columns) view of the array kept under `key`, grown when needed.
        Its contents are whatever was there before."""
        kept = self._arrays.get(key)
        if kept is None or kept.dtype != dtype or kept.shape[1] != columns or kept.shape[0] < rows:
            kept = np.empty((max(rows, 1), columns), dtype)
            self._arrays[key] = kept
        return kept[:rows]

    def clear(self):
        self._arrays.clear()
