"""Shared by the fixture scripts."""

import io


class Unseekable(io.RawIOBase):
    """A sink zipfile cannot seek in, so it writes data descriptors."""

    def __init__(self):
        self.buffer = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.buffer += b
        return len(b)
