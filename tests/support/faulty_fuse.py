#!/usr/bin/env python3
"""Serves one image file read-only through FUSE; reads that touch one of the
given 512-byte sectors fail with EIO, like a card with bad sectors.

Usage: faulty_fuse.py IMAGE MOUNTPOINT [BAD_OFFSET ...] [--pause-at OFFSET]
The image appears as MOUNTPOINT/card.img. With --pause-at, the first read that
touches OFFSET creates MOUNTPOINT/../paused and waits until MOUNTPOINT/../resume
exists, so that a test can act at that exact point. Runs in the foreground
until unmounted.
"""
import errno
import os
import stat
import sys
import time

try:
    import fusepy as fuse  # Debian's python3-fusepy
except ImportError:
    import fuse

SECTOR = 512


class FaultyImage(fuse.Operations):
    def __init__(self, image, bad_offsets, pause_at, pause_dir):
        self.image = image
        self.pause_at = pause_at
        self.pause_dir = pause_dir
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
        if self.pause_at is not None and offset <= self.pause_at < offset + size:
            self.pause_at = None
            open(os.path.join(self.pause_dir, "paused"), "w").close()
            while not os.path.exists(os.path.join(self.pause_dir, "resume")):
                time.sleep(0.01)
        for bad in self.bad:
            if offset < bad + SECTOR and bad < offset + size:
                raise fuse.FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)


def main():
    image, mountpoint = sys.argv[1], sys.argv[2]
    rest = sys.argv[3:]
    pause_at = None
    if "--pause-at" in rest:
        at = rest.index("--pause-at")
        pause_at = int(rest[at + 1], 0)
        del rest[at:at + 2]
    bad = [int(value, 0) for value in rest]
    pause_dir = os.path.dirname(os.path.abspath(mountpoint))
    # direct_io: every read reaches this process with its own offset and size.
    fuse.FUSE(FaultyImage(image, bad, pause_at, pause_dir), mountpoint, foreground=True, ro=True, direct_io=True, nothreads=True)


if __name__ == "__main__":
    main()
