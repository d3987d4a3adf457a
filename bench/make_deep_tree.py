#!/usr/bin/env python3
"""The deep tree of the long-link benchmark: 8 x 10 x 10 folders below the top (889 with it),
two 2 KiB files in each of the 800 leaves, bytes and times fixed by their names.

Usage: make_deep_tree.py OUT_DIR (created; must be empty or absent)."""
import hashlib
import os
import sys

BASE_MTIME = 1704067200  # 2024-01-01T00:00:00Z


def main() -> int:
    if len(sys.argv) != 2:
        print(f"usage: {sys.argv[0]} OUT_DIR", file=sys.stderr)
        return 2
    out = sys.argv[1]
    if os.path.exists(out) and os.listdir(out):
        print(f"refusing to write into non-empty {out}", file=sys.stderr)
        return 1
    os.umask(0o022)
    for a in range(8):
        for b in range(10):
            for c in range(10):
                leaf = os.path.join(out, f"site{a}", f"day{b:02d}", f"run{c:02d}")
                os.makedirs(leaf, exist_ok=True)
                for name in ("data.bin", "notes.txt"):
                    path = os.path.join(leaf, name)
                    with open(path, "wb") as f:
                        f.write(hashlib.shake_256(path[len(out):].encode()).digest(2048))
                    os.utime(path, (BASE_MTIME, BASE_MTIME))
    return 0


if __name__ == "__main__":
    sys.exit(main())
