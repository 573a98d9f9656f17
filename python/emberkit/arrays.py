"""Checks that arrays handed to the library have the dtype, shape and memory layout it reads."""

import ctypes

import numpy as np


def checked(name, array, dtype, columns, rows=None):
    """`array` as it may be passed to the library: a C-contiguous numpy array of `dtype` and
    shape (rows, columns). TypeError or ValueError naming `name` otherwise."""
    dtype = np.dtype(dtype)
    if not isinstance(array, np.ndarray):
        raise TypeError("%s must be a numpy array, not %s" % (name, type(array).__name__))
    if array.dtype != dtype:
        raise TypeError("%s must have dtype %s, not %s" % (name, dtype, array.dtype))
    if array.ndim != 2 or array.shape[1] != columns:
        raise ValueError("%s must have shape (N, %d), not %s" % (name, columns, array.shape))
    if rows is not None and array.shape[0] != rows:
        raise ValueError(
            "%s has %d rows but positions has %d: one row per particle"
            % (name, array.shape[0], rows)
        )
    if not array.flags.c_contiguous:
        raise ValueError(
            "%s must be C-contiguous (use numpy.ascontiguousarray(%s))" % (name, name)
        )
    return array


def checked_image(name, image, shape=None):
    """`image` as the writers read it: C-contiguous float32 of shape (height, width, 4), or of
    exactly `shape` when given."""
    if not isinstance(image, np.ndarray):
        raise TypeError("%s must be a numpy array, not %s" % (name, type(image).__name__))
    if image.dtype != np.float32:
        raise TypeError("%s must have dtype float32, not %s" % (name, image.dtype))
    if shape is not None and image.shape != shape:
        raise ValueError("%s must have shape %s, not %s" % (name, shape, image.shape))
    if shape is None and (image.ndim != 3 or image.shape[2] != 4):
        raise ValueError("%s must have shape (height, width, 4), not %s" % (name, image.shape))
    if not image.flags.c_contiguous:
        raise ValueError(
            "%s must be C-contiguous (use numpy.ascontiguousarray(%s))" % (name, name)
        )
    return image


def pointer(array, ctype):
    """A pointer of `ctype` elements to the array's data, or null for None."""
    if array is None:
        return None
    return array.ctypes.data_as(ctypes.POINTER(ctype))


def float_at(array, index):
    """A float pointer to element `index` of a C-contiguous float32 array's data."""
    return ctypes.cast(array.ctypes.data + 4 * index, ctypes.POINTER(ctypes.c_float))
