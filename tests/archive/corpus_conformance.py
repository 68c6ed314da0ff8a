"""Extracts every archive of the conformance corpus with zipextract and with Debian's unzip.

Usage: corpus_conformance.py ZIPEXTRACT CORPUS [THREADS]. Each archive must either extract to the same
files and bytes as unzip, or fail with one of zipextract's own messages; zipextract must never
crash, hang, or write outside its destination. Differences from unzip that are by design are
listed in KNOWN_DIFFERENCES with their reason. Exits 77 (skipped) when the corpus is absent.
"""
import os
import re
import subprocess
import sys
import tempfile

OUR_MESSAGES = [
    r'Cannot open file ".*"\. .*', r"Stream read error", r"Error reading zip file",
    r"Invalid Zip Central Header signature", r"Invalid Zip Local Header signature", r"Item not found",
    r"Invalid count \(-?\d+\)",
    r"No mapping for the Unicode character exists in the target multi-byte code page",
    r"Invalid characters in path", r'Cannot create file ".*"\. .*', r"Stream write error",
    r"[a-z ]+ error|need dictionary|stream end",  # zlib's texts
    r'Illegal path in archive: ".*"', r'CRC-32 mismatch in ".*"',
    r"Zip entry \d+ overlaps (entry \d+|the central directory)",
    r'Entry ".*" holds more data than its size of \d+ bytes', r'Cannot create folder ".*"\. .*',
]

# Archives that extract, but not as unzip extracts them, and why.
KNOWN_DIFFERENCES = {
    "go/test-badbase.zip": "the directory offset is taken as it stands and every entry's CRC holds; "
                           "unzip shifts the offsets by the bytes it thinks are extra and loses an entry",
    "go/utf8-osx.zip": "name bytes without the UTF-8 flag are read as GBK; unzip keeps them as they are",
    "libzip/test-utf8-unmarked.zip": "name bytes without the UTF-8 flag are read as GBK; unzip keeps them as they are",
    "libzip/testfile-cp437.zip": "name bytes without the UTF-8 flag are read as GBK; unzip reads CP437",
    "libzip/utf-8-standardization-output.zip": "names are decoded once; unzip converts them a second time",
    "libzip/empty-pkware.zip": "an encrypted entry of 0 bytes has nothing to decrypt and is written empty; "
                               "unzip asks for a password and skips it",
    "libzip/incons-cdsize-large.zip": "the directory size field is not used; unzip gives up on it",
    "libzip/incons-file-count-low.zip": "the end record's entry count is the number of entries read; "
                                        "unzip reads on past it",
    "libzip/incons-ef-local-dupe-utf8name.zip": "the local Unicode Path field whose CRC matches names the file; "
                                                "unzip keeps the central name",
    "libzip/incons-ef-local-utf8name-ascii.zip": "the local Unicode Path field whose CRC matches names the file; "
                                                 "unzip keeps the central name",
    "libzip/incons-ef-local-dupe-zip64-v1.zip": "sizes come from the central directory and the CRC holds; "
                                                "unzip takes the local Zip64 sizes and fails",
    "libzip/incons-local-compression-method.zip": "the method comes from the central directory and the CRC holds; "
                                                  "unzip takes the local one and fails",
    "libzip/incons-local-compsize-larger.zip": "sizes come from the central directory and the CRC holds; "
                                               "unzip takes the local ones and fails",
    "libzip/incons-local-compsize-smaller.zip": "sizes come from the central directory and the CRC holds; "
                                                "unzip takes the local ones and fails",
}


def read_tree(root):
    """Relative path -> bytes (a link: its target), folders as "path/" -> None; {} when absent."""
    tree = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            key = os.path.relpath(path, root)
            if os.path.islink(path):
                tree[key] = os.readlink(path).encode()
            elif os.path.isdir(path):
                tree[key + "/"] = None
            else:
                with open(path, "rb") as f:
                    tree[key] = f.read()
    return tree


def run(command, timeout=30):
    try:
        done = subprocess.run(command, capture_output=True, timeout=timeout)
        return done.returncode, done.stderr.decode(errors="replace").strip()
    except subprocess.TimeoutExpired:
        return "timeout", ""


def check(zipextract, archive, scratch, threads):
    """Returns (verdict, detail, problem) for one archive."""
    jail = os.path.join(scratch, "jail")
    ours, theirs = os.path.join(jail, "out"), os.path.join(scratch, "unzip")
    os.makedirs(jail)
    status, message = run([zipextract] + (["--threads", threads] if threads else []) + [archive, ours])
    unzip_status, _ = run(["unzip", "-o", "-q", archive, "-d", theirs])
    problems = []
    if set(os.listdir(jail)) - {"out"}:
        problems.append("wrote outside the destination: %s" % sorted(os.listdir(jail)))
    if "Sanitizer" in message or "runtime error" in message:
        problems.append("sanitizer report")
    if status == 1:
        if not any(re.fullmatch(pattern, message) for pattern in OUR_MESSAGES):
            problems.append("unknown message %r" % message)
        return "fails", message, problems
    if status != 0:
        return "crash", "status %s %s" % (status, message), problems + ["crashed or hung"]
    if read_tree(ours) == read_tree(theirs):
        return "same as unzip", "", problems
    return "differs", "unzip status %s" % unzip_status, problems


def main():
    zipextract, corpus = sys.argv[1], sys.argv[2]
    threads = sys.argv[3] if len(sys.argv) > 3 else None
    if not os.path.isdir(corpus):
        print("SKIP: no conformance corpus at %s" % corpus)
        return 77
    archives = sorted(os.path.relpath(os.path.join(folder, name), corpus)
                      for folder, _, names in os.walk(corpus) for name in names
                      if name not in ("README.md", "LICENSE"))
    failed = False
    with tempfile.TemporaryDirectory() as scratch_root:
        for index, archive in enumerate(archives):
            scratch = os.path.join(scratch_root, str(index))
            verdict, detail, problems = check(zipextract, os.path.join(corpus, archive), scratch, threads)
            if verdict == "differs":
                if archive in KNOWN_DIFFERENCES:
                    detail = KNOWN_DIFFERENCES[archive]
                else:
                    problems.append("differs from unzip")
            elif archive in KNOWN_DIFFERENCES:
                problems.append("listed as differing but is %s" % verdict)
            failed |= bool(problems)
            print("| %s | %s | %s |%s" % (archive, verdict, detail,
                                          " PROBLEM: " + "; ".join(problems) if problems else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
