"""Makes the archives the extraction tests read, with real archiving tools.

Usage: make_tool_archives.py FOLDER. Writes FOLDER/src (the tree the Info-ZIP and 7-Zip
archives are made from) and the archives next to it.
"""
import io
import os
import random
import subprocess
import sys
import zipfile

LEAP_DAY = (2020, 2, 29, 13, 45, 58)
STAMP = 1600000000  # an even second, so DOS time keeps it exactly


class GbkInfo(zipfile.ZipInfo):
    """Writes the name in GBK without the UTF-8 flag, as Chinese Windows tools do."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("gbk"), self.flag_bits


def unicode_path_field(local_name: bytes, name: str, crc=None) -> bytes:
    utf8 = name.encode("utf-8")
    crc = zipfile.crc32(local_name) if crc is None else crc
    return (0x7075).to_bytes(2, "little") + (len(utf8) + 5).to_bytes(2, "little") + b"\x01" + \
        crc.to_bytes(4, "little") + utf8


def mixed_bytes(size: int, seed: int) -> bytes:
    """Half noise, half text: deflates to about half its size."""
    rng = random.Random(seed)
    return b"".join(rng.randbytes(16) + b"abcdefghijklmnop" for _ in range(size // 32))


def write_expected(out: str, archive: str, files: dict) -> None:
    """The tree an archive should extract to, under FOLDER/expected/ARCHIVE."""
    root = os.path.join(out, "expected", archive)
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path) if not name.endswith("/") else path, exist_ok=True)
        if not name.endswith("/"):
            with open(path, "wb") as f:
                f.write(data)


def python_archives(out: str) -> None:
    big = mixed_bytes(3 << 20, 1)
    noise = random.Random(2).randbytes(1536 << 10)
    write_expected(out, "python_mixed.zip", {
        "stored.txt": b"stored text\n", "deflated.txt": b"deflated text\n" * 100, "docs/": b"",
        "a/b/c.txt": b"c", "empty.txt": b"", "large.bin": big, "noise.bin": noise,
        "large-stored.bin": noise, "dup.txt": b"second"})
    write_expected(out, "python_descriptor.zip", {"one.txt": b"one " * 1000, "two.bin": big})
    with zipfile.ZipFile(os.path.join(out, "python_mixed.zip"), "w") as z:
        z.writestr("stored.txt", "stored text\n", zipfile.ZIP_STORED)
        z.writestr("deflated.txt", "deflated text\n" * 100, zipfile.ZIP_DEFLATED)
        z.writestr("docs/", "")
        z.writestr("a/b/c.txt", "c", zipfile.ZIP_DEFLATED)
        z.writestr("empty.txt", "", zipfile.ZIP_DEFLATED)
        z.writestr("large.bin", big, zipfile.ZIP_DEFLATED)
        z.writestr("noise.bin", noise, zipfile.ZIP_DEFLATED)
        z.writestr("large-stored.bin", noise, zipfile.ZIP_STORED)
        z.writestr("dup.txt", "first and longer", zipfile.ZIP_DEFLATED)
        import warnings
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            z.writestr("dup.txt", "second", zipfile.ZIP_DEFLATED)

    with zipfile.ZipFile(os.path.join(out, "python_names.zip"), "w") as z:
        z.writestr(GbkInfo("你好.txt"), "gbk")
        z.writestr("世界.txt", "utf-8 flag")
        matching = GbkInfo("甲.txt")
        matching.extra = unicode_path_field("甲.txt".encode("gbk"), "乙.txt")
        z.writestr(matching, "unicode path")
        mismatching = GbkInfo("丙.txt")
        mismatching.extra = unicode_path_field("丙.txt".encode("gbk"), "ignored.txt", crc=1)
        z.writestr(mismatching, "central name")

    # Written to a stream that cannot seek, so every entry carries a data descriptor.
    class Unseekable(io.RawIOBase):
        def __init__(self, f):
            self.f = f

        def writable(self):
            return True

        def write(self, b):
            return self.f.write(b)

    with open(os.path.join(out, "python_descriptor.zip"), "wb") as f:
        with zipfile.ZipFile(Unseekable(f), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("one.txt", "one " * 1000)
            z.writestr("two.bin", big)

    with zipfile.ZipFile(os.path.join(out, "python_hosts.zip"), "w") as z:
        for name, system, attributes in [("readonly.txt", 0, 0x21), ("archive.txt", 0, 0x20),
                                         ("run.sh", 3, 0o100750 << 16), ("link", 3, 0o120777 << 16)]:
            info = zipfile.ZipInfo(name, LEAP_DAY)
            info.create_system = system
            info.external_attr = attributes
            z.writestr(info, "../target" if name == "link" else name)


def source_tree(src: str) -> None:
    os.makedirs(os.path.join(src, "a", "b"))
    os.makedirs(os.path.join(src, "empty-folder"))
    files = {
        "a/b/c.txt": b"c" * 10,
        "a/readme.txt": b"readme\n" * 50,
        "empty.txt": b"",
        "large.bin": mixed_bytes(2 << 20, 3),
        "run.sh": b"#!/bin/sh\necho run\n",
        "世界.txt": "世界".encode(),
    }
    for name, data in files.items():
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    os.chmod(os.path.join(src, "run.sh"), 0o750)
    os.chmod(os.path.join(src, "a/readme.txt"), 0o600)
    for root, dirs, names in os.walk(src):
        for name in names + dirs:
            os.utime(os.path.join(root, name), (STAMP, STAMP))


def tool_archives(out: str, src: str) -> None:
    def run(*command):
        return subprocess.run(command, cwd=src, check=True, stdout=subprocess.PIPE).stdout

    entries = ["a", "empty-folder", "empty.txt", "large.bin", "run.sh"]
    run("zip", "-q", "-r", "-6", os.path.join(out, "infozip.zip"), *entries)
    run("zip", "-q", "-r", "-0", os.path.join(out, "infozip_stored.zip"), *entries)
    run("zip", "-q", "-r", "-D", os.path.join(out, "infozip_nodirs.zip"), "a", "empty.txt", "large.bin", "run.sh")
    # Written to a pipe, so the entries carry data descriptors.
    with open(os.path.join(out, "infozip_streamed.zip"), "wb") as f:
        f.write(run("zip", "-q", "-r", "-", "a", "empty.txt", "large.bin", "run.sh"))
    run("7z", "a", "-tzip", "-bd", os.path.join(out, "7z.zip"), *entries, "世界.txt")
    run("7z", "a", "-tzip", "-bd", "-mx0", os.path.join(out, "7z_stored.zip"), *entries)


def main() -> None:
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    src = os.path.join(out, "src")
    python_archives(out)
    source_tree(src)
    tool_archives(out, src)


if __name__ == "__main__":
    main()
