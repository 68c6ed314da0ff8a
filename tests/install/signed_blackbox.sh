#!/usr/bin/env bash
# The built installer on Xvfb with a signed product: a package that carries the publisher's
# key installs the archive signed with it, and refuses the same archive with one byte altered
# on the server (a notice, nothing unpacked or started, the archive gone).
#
# usage: signed_blackbox.sh INSTALLER PACKTOOL SHOTS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
installer=$1 packtool=$2 shots=$3

work=$(mktemp -d /tmp/installer-signed.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$packtool" keygen -o "$work/publisher" >/dev/null
for case in signed altered; do
    content="$work/$case"
    cp -r "$root/tools/sample-service/content" "$content"
    python3 - "$content" <<'PY'
import json, os, sys, zipfile
content = sys.argv[1]
product = os.path.join(content, "product")
with zipfile.ZipFile(os.path.join(content, "product.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
    for folder, _, files in sorted(os.walk(product)):
        for name in sorted(files):
            path = os.path.join(folder, name)
            archive.write(path, os.path.relpath(path, product))
with open(os.path.join(content, "service.json"), encoding="utf-8") as f:
    config = json.load(f)
config["versions"] = [{"id": "101", "title": "示例软件 1.0 正式版", "zip": "product.zip"}]
with open(os.path.join(content, "service.json"), "w", encoding="utf-8") as f:
    json.dump(config, f, ensure_ascii=False)
PY
    "$packtool" sign --key "$work/publisher.key" "$content/product.zip"
done
# One byte of an entry's data, past the local header.
python3 - "$work/altered/product.zip" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[40] ^= 0x01
open(path, "wb").write(bytes(data))
PY

status=0
echo "== the signed archive"
bash "$root/scripts/demo.sh" --headless --no-build --clean --installer "$installer" --packtool "$packtool" \
    --shots "$shots/signed" --content "$work/signed" --public-key "$work/publisher.pub" || status=1
echo "== the same archive with one byte altered"
bash "$root/scripts/demo.sh" --headless --no-build --clean --installer "$installer" --packtool "$packtool" \
    --shots "$shots/altered" --content "$work/altered" --public-key "$work/publisher.pub" --expect-refusal || status=1
exit "$status"
