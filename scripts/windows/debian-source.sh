# Sourced by the Windows build scripts: fetching Debian source packages.

# Adds a deb-src entry with the archive and suite of the system's own Debian entry, so that
# `apt-get source` works on a machine that only lists binary packages. The host comes from
# the machine's configuration, never from this repository.
ensure_deb_src() {
  local probe=$1
  if apt-get source --print-uris -q "$probe" >/dev/null 2>&1; then
    return
  fi
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  python3 - "$codename" >/etc/apt/sources.list.d/installer-deb-src.sources <<'PY'
import glob, sys
codename = sys.argv[1]

def deb822(path):
    for block in open(path).read().split("\n\n"):
        fields = {}
        for line in block.splitlines():
            if line.startswith("#") or ":" not in line or line[0].isspace():
                continue
            key, value = line.split(":", 1)
            fields[key.strip()] = value.strip()
        if "deb" in fields.get("Types", "").split() and codename in fields.get("Suites", "").split():
            yield fields.get("URIs", "").split()[0], fields.get("Signed-By")

def one_line(path):
    for line in open(path):
        words = line.split("#", 1)[0].split()
        if len(words) >= 3 and words[0] == "deb":
            options = [w for w in words[1:] if w.startswith("[")]
            rest = [w for w in words[1:] if not w.startswith("[") and not w.endswith("]")]
            if len(rest) >= 2 and rest[1] == codename:
                signed = None
                for o in " ".join(options).strip("[]").split():
                    if o.startswith("signed-by="):
                        signed = o.split("=", 1)[1]
                yield rest[0], signed

found = None
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    found = found or next(deb822(path), None)
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        found = found or next(one_line(path), None)
    except FileNotFoundError:
        pass
if not found:
    sys.exit("no Debian entry for %s in the apt sources" % codename)
uri, signed = found
print("Types: deb-src")
print("URIs: " + uri)
print("Suites: " + codename)
print("Components: main")
if signed:
    print("Signed-By: " + signed)
PY
  apt-get -o DPkg::Lock::Timeout=600 update -q >/dev/null
}

# Unpacks Debian's source of a package at a version into a folder, reusing it when a previous
# fetch finished (the folder only appears once dpkg-source has unpacked everything).
fetch_debian_source() {
  local package=$1 version=$2 into=$3
  [ -d "$into" ] && return
  ensure_deb_src "$package"
  local work
  work=$(mktemp -d "$(dirname "$into")/.fetch-$package.XXXXXX")
  (cd "$work" && apt-get source -q "$package=$version" >/dev/null)
  local unpacked
  unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n1)
  mv "$unpacked" "$into"
  rm -rf "$work"
}
