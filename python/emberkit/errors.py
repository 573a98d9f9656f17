"""The exceptions the package raises for failures of the library."""


class EmberkitError(Exception):
    """A call into the library failed; the text is the library's own reason."""


class ImageWriteError(EmberkitError, OSError):
    """An image writer failed; errno, strerror and filename say why and where."""
