"""Writes the tree that every server of the end-to-end tests serves.

Usage: make_tree.py ROOT [NOW] [--ascii]

With --ascii, the names that hold letters outside ASCII are left out: a tree for servers that
read names as Latin-1.

Deterministic: the same names, sizes and bytes on every run. Only the modification times of the
files under aged/ follow the clock (minutes and days before now); every other file is dated
2020-05-17 12:00 UTC, so that age bounds select aged/ alone.
"""
import hashlib
import os
import sys

OLD = 1589716800  # 2020-05-17 12:00:00 UTC
HUGE_SIZE = 2**31 + 3 * 4096  # over 2 GiB, sparse on disk
EXTENSIONS = [".txt", ".bin", ".dat", ".log"]
# Sizes around the 1 KiB steps of the size options, so inclusive bounds show.
BOUNDARY_SIZES = [1, 1023, 1024, 1025, 2047, 2048, 2049, 3071, 3072, 3073]


def content(path, size):
    """Bytes of every value, from the relative path: a change of name changes the data."""
    out = bytearray()
    block = 0
    while len(out) < size:
        out += hashlib.sha256(f"{path}#{block}".encode()).digest()
        block += 1
    return bytes(out[:size])


def write(root, relative, size, mtime=OLD):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(content(relative, size))
    os.utime(path, (mtime, mtime))


def bulk(root):
    """bulk/g00..g11 with 90 files each: 1,080 files of 0 to 4,999 bytes."""
    index = 0
    for group in range(12):
        for number in range(90):
            if index % 53 == 0:
                size = 0
            elif index % 11 == 0:
                size = BOUNDARY_SIZES[(index // 11) % len(BOUNDARY_SIZES)]
            else:
                size = (index * 7919) % 5000
            extension = EXTENSIONS[(index * 3 + group) % len(EXTENSIONS)]
            write(root, f"bulk/g{group:02d}/f{number:03d}{extension}", size)
            index += 1


def deep(root):
    """Seven levels, a file at each."""
    path = "deep"
    for level in range(1, 8):
        path += f"/l{level}"
        write(root, f"{path}/level{level}.txt", 100 + level)


def names(root, ascii_only):
    for name, size in [
        ("names/name with blanks.txt", 210),
        ("names/caf\u00e9 cr\u00e8me.txt", 220),
        ("names/\u00c6r\u00f8 \u00df\u00fc\u00df.dat", 230),
        ("names/\u65e5\u672c\u8a9e.txt", 240),
        ("names/-leading-dash.txt", 250),
        ("names/[brackets] and star*.txt", 260),
        ("names/empty.txt", 0),
        ("space dir/a b.txt", 270),
        ("-dash folder/inside.txt", 280),
    ]:
        if not ascii_only or name.isascii():
            write(root, name, size)


def aged(root, now):
    minute = 60
    day = 86400
    for name, mtime in [
        ("aged/recent-1.txt", now - 10 * minute),
        ("aged/recent-2.txt", now - 20 * minute),
        ("aged/days-1.txt", now - 3 * day),
        ("aged/days-2.txt", now - 4 * day),
        ("aged/old-1.txt", OLD),
        ("aged/old-2.txt", OLD),
    ]:
        write(root, name, 300, mtime)


def limits(root):
    """Folders only at the top, files only below them: a folder limit selects whole folders."""
    for folder, count in [("a", 3), ("b", 2), ("c", 4)]:
        for number in range(count):
            write(root, f"limits/{folder}/{number}.txt", 40 + number)


def text_lines(root):
    """A text file with LF line ends, for transfers in ASCII mode."""
    path = os.path.join(root, "lines.txt")
    with open(path, "wb") as file:
        file.write(b"".join(b"text line %d\n" % number for number in range(200)))
    os.utime(path, (OLD, OLD))


def sparse(root, relative, size):
    """Data at both ends, a hole between them."""
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    head = content(relative + "#head", 4096)
    tail = content(relative + "#tail", 4096)
    with open(path, "wb") as file:
        file.write(head)
        file.truncate(size)
        file.seek(size - len(tail))
        file.write(tail)
    os.utime(path, (OLD, OLD))


def huge(root):
    sparse(root, "big/huge.bin", HUGE_SIZE)
    write(root, "big/small.txt", 123)


def medium(root):
    """Files that take a moment to send, so that a server can be stopped during one; the last
    two are the largest, so that a stop that comes late still finds them unsent."""
    for number, mebibytes in [(1, 8), (2, 8), (3, 32), (4, 32)]:
        sparse(root, f"medium/m{number}.bin", mebibytes * 2**20 + number)


def links(root):
    os.symlink("README.txt", os.path.join(root, "link-to-file"))
    os.symlink("deep", os.path.join(root, "link-to-folder"))
    os.symlink("../README.txt", os.path.join(root, "names", "link-in-names"))


def main():
    arguments = [argument for argument in sys.argv[1:] if argument != "--ascii"]
    ascii_only = len(arguments) < len(sys.argv) - 1
    root = arguments[0]
    now = int(arguments[1]) if len(arguments) > 1 else int(__import__("time").time())
    os.makedirs(root, exist_ok=True)
    write(root, "README.txt", 64)
    text_lines(root)
    bulk(root)
    deep(root)
    names(root, ascii_only)
    aged(root, now)
    limits(root)
    huge(root)
    medium(root)
    os.makedirs(os.path.join(root, "empty folder"))
    links(root)
    # The servers drop to an unprivileged account before they read the tree.
    for folder, subfolders, files in os.walk(root):
        os.chmod(folder, 0o755)
        for name in files:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                os.chmod(path, 0o644)


if __name__ == "__main__":
    sys.exit(main())
