#!/usr/bin/env python3
"""Serves one image file read-only through FUSE, as a card in a card reader:
every read reaches this process (direct_io, no page cache), and reads that
touch a bad sector fail with EIO, like a card with bad sectors.

Usage: faulty_fuse.py IMAGE MOUNTPOINT [BAD_OFFSET ...] [options]
  BAD_OFFSET            the 512-byte sector holding this offset is bad
  --bad START:LENGTH    every sector touching [START, START+LENGTH) is bad
  --pause-at OFFSET     the first read touching OFFSET creates
                        MOUNTPOINT/../paused and waits until
                        MOUNTPOINT/../resume exists, so that a test can act at
                        that exact point
  --bandwidth BYTES     serve at most this many bytes per second
  --stats FILE          keep "bytes N\\nrequests N\\n" of what was read in FILE
  --read-log FILE       append "OFFSET SIZE ok|eio" for every read request to FILE
  --vanish-after BYTES  once this many bytes were served, the card is gone:
                        every read fails with ENODEV, as a pulled reader does
The image appears as MOUNTPOINT/card.img. Runs in the foreground until
unmounted.
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
    def __init__(self, image, bad_ranges, options, pause_dir):
        self.image = image
        self.pause_at = options.get("--pause-at")
        self.pause_dir = pause_dir
        self.size = os.path.getsize(image)
        self.bad = sorted((start // SECTOR * SECTOR, -(-(start + length) // SECTOR) * SECTOR)
                          for start, length in bad_ranges)
        self.fd = os.open(image, os.O_RDONLY)
        self.bandwidth = options.get("--bandwidth")
        self.vanish_after = options.get("--vanish-after")
        stats = options.get("--stats")
        self.stats_fd = os.open(stats, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644) if stats else None
        self.log = open(options["--read-log"], "a", buffering=1) if "--read-log" in options else None
        self.bytes = 0
        self.requests = 0
        self.free_at = time.monotonic()  # when the modelled bus is next idle
        self.write_stats()

    def write_stats(self):
        # Rewritten in place, fixed width: one pwrite per request.
        if self.stats_fd is not None:
            os.pwrite(self.stats_fd, b"bytes %020d\nrequests %020d\n" % (self.bytes, self.requests), 0)

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

    def throttle(self, size):
        if self.bandwidth:
            self.free_at = max(self.free_at, time.monotonic()) + size / self.bandwidth
            delay = self.free_at - time.monotonic()
            if delay > 0:
                time.sleep(delay)

    def read(self, path, size, offset, fh):
        if self.vanish_after is not None and self.bytes >= self.vanish_after:
            raise fuse.FuseOSError(errno.ENODEV)
        if self.pause_at is not None and offset <= self.pause_at < offset + size:
            self.pause_at = None
            open(os.path.join(self.pause_dir, "paused"), "w").close()
            while not os.path.exists(os.path.join(self.pause_dir, "resume")):
                time.sleep(0.01)
        size = max(0, min(size, self.size - offset))
        self.requests += 1
        self.throttle(size)
        for start, end in self.bad:
            if offset < end and start < offset + size:
                if self.log:
                    self.log.write("%d %d eio\n" % (offset, size))
                self.write_stats()
                raise fuse.FuseOSError(errno.EIO)
        if self.log:
            self.log.write("%d %d ok\n" % (offset, size))
        data = os.pread(self.fd, size, offset)
        self.bytes += len(data)
        self.write_stats()
        return data


def parse(arguments):
    bad, options = [], {}
    i = 0
    while i < len(arguments):
        word = arguments[i]
        if word == "--bad":
            start, length = arguments[i + 1].split(":")
            bad.append((int(start, 0), int(length, 0)))
            i += 2
        elif word in ("--pause-at", "--bandwidth", "--vanish-after"):
            options[word] = int(arguments[i + 1], 0)
            i += 2
        elif word in ("--stats", "--read-log"):
            options[word] = arguments[i + 1]
            i += 2
        else:
            bad.append((int(word, 0), 1))
            i += 1
    return bad, options


def main():
    image, mountpoint = sys.argv[1], sys.argv[2]
    bad, options = parse(sys.argv[3:])
    pause_dir = os.path.dirname(os.path.abspath(mountpoint))
    # direct_io: every read reaches this process with its own offset and size.
    fuse.FUSE(FaultyImage(image, bad, options, pause_dir), mountpoint, foreground=True, ro=True, direct_io=True,
              nothreads=True)


if __name__ == "__main__":
    main()
