#!/usr/bin/env python3
"""Serves one image file read-only through FUSE; reads that touch one of the
given 512-byte sectors fail with EIO, like a card with bad sectors.

Usage: faulty_fuse.py IMAGE MOUNTPOINT [BAD_OFFSET ...]
The image appears as MOUNTPOINT/card.img. Runs in the foreground until unmounted.
"""
import errno
import os
import stat
import sys

try:
    import fusepy as fuse  # Debian's python3-fusepy
except ImportError:
    import fuse

SECTOR = 512


class FaultyImage(fuse.Operations):
    def __init__(self, image, bad_offsets):
        self.image = image
        self.size = os.path.getsize(image)
        self.bad = sorted({offset // SECTOR * SECTOR for offset in bad_offsets})
        self.fd = os.open(image, os.O_RDONLY)

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        if path == "/card.img":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": self.size}
        raise fuse.FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "card.img"]

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise fuse.FuseOSError(errno.EROFS)
        return 0

    def read(self, path, size, offset, fh):
        for bad in self.bad:
            if offset < bad + SECTOR and bad < offset + size:
                raise fuse.FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)


def main():
    image, mountpoint = sys.argv[1], sys.argv[2]
    bad = [int(value, 0) for value in sys.argv[3:]]
    # direct_io: every read reaches this process with its own offset and size.
    fuse.FUSE(FaultyImage(image, bad), mountpoint, foreground=True, ro=True, direct_io=True, nothreads=True)


if __name__ == "__main__":
    main()
