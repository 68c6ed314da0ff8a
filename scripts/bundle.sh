#!/usr/bin/env bash
# Makes a folder a publisher can ship to users who have no Qt: the built installer, the shared
# libraries it needs beyond a plain desktop's, the Qt plugins it loads and a qt.conf, all found
# through run paths relative to the folder. Writes OUT.tar.xz beside it.
#
# usage: scripts/bundle.sh [--build DIR] [--full-icu] [--quick] OUT
#   --build     the build folder holding src/app/Installer (default: build/)
#   --full-icu  keep all of ICU's data (31 MB) instead of the GBK converter alone
#   --quick     compress OUT.tar.xz fast rather than small (for tests: the same files, 2-3
#               minutes less, a larger download)
# A pack.db already in OUT (packtool write --bundle OUT) is kept and shipped; everything else
# the script puts into OUT is made anew.
#
# The user's system must provide what the README's "Shipping a copy" lists: glibc, libstdc++ and
# libgcc_s, fontconfig with freetype and their own libraries, a font with Chinese characters, and
# an X server (X11 or XWayland). Everything else comes from this build machine's Debian packages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build=$root/build full_icu=false out="" xz_level=(-9e)
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$2; shift ;;
    --full-icu) full_icu=true ;;
    --quick) xz_level=(-1) ;;
    -*) echo "usage: $0 [--build DIR] [--full-icu] [--quick] OUT" >&2; exit 2 ;;
    *) [ -z "$out" ] || { echo "usage: $0 [--build DIR] [--full-icu] [--quick] OUT" >&2; exit 2; }
       out=$1 ;;
    esac
    shift
done
[ -n "$out" ] || { echo "usage: $0 [--build DIR] [--full-icu] [--quick] OUT" >&2; exit 2; }

installer=$build/src/app/Installer
[ -x "$installer" ] || { echo "bundle: no $installer; build first (cmake --build $build)" >&2; exit 1; }
for tool in patchelf strip icupkg gcc xz qtpaths6; do
    command -v "$tool" >/dev/null || { echo "bundle: $tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done
qt_plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS)

# The libraries left to the user's system. fontconfig's own libraries stay with it: a second,
# older copy loaded first would be used by the system's fontconfig too.
system_libs='^(linux-vdso|ld-linux-x86-64|libc|libm|libdl|libpthread|librt|libresolv|libutil'
system_libs+='|libstdc\+\+|libgcc_s|libfontconfig|libfreetype|libexpat|libz|libpng16'
system_libs+='|libbrotlidec|libbrotlicommon|libbz2)\.so'

# The plugins the installer loads: the X11 window and the offscreen one, the banner formats Qt
# does not build in (BMP and PNG are), and the TLS backend.
plugins=(
    platforms/libqxcb.so platforms/libqoffscreen.so
    imageformats/libqgif.so imageformats/libqjpeg.so imageformats/libqtiff.so
    tls/libqopensslbackend.so
)

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -rf "$out/Installer" "$out/qt.conf" "$out/lib" "$out/platforms" "$out/imageformats" "$out/tls"
mkdir -p "$out/lib"
work=$(mktemp -d "$out/.bundle.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Copies an ELF file, strips it (before patchelf: strip can undo patchelf's layout) and points
# its run path at the bundle's lib/.
place() {
    local from=$1 to=$2 runpath=$3
    cp -L "$from" "$to"
    chmod 755 "$to"
    strip --strip-unneeded "$to"
    patchelf --set-rpath "$runpath" "$to"
}

place "$installer" "$out/Installer" '$ORIGIN/lib'
elves=("$installer")
for plugin in "${plugins[@]}"; do
    [ -f "$qt_plugins/$plugin" ] || { echo "bundle: no Qt plugin $qt_plugins/$plugin" >&2; exit 1; }
    mkdir -p "$out/$(dirname "$plugin")"
    place "$qt_plugins/$plugin" "$out/$plugin" '$ORIGIN/../lib'
    elves+=("$qt_plugins/$plugin")
done
# Qt's TLS backend opens OpenSSL by name at run time, so no link step names it.
for name in libssl.so.3 libcrypto.so.3; do
    path=$(ldconfig -p | awk -v n="$name" '$1 == n && /x86-64/ && !found { print $NF; found = 1 }')
    [ -n "$path" ] || { echo "bundle: $name not found (Debian package libssl3)" >&2; exit 1; }
    elves+=("$path")
done

# Every library those files load, directly or not, as this machine resolves it.
declare -A needed=()
for elf in "${elves[@]}"; do
    while read -r name path; do
        needed[$name]=$path
    done < <(ldd "$elf" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 } $2 == "=>" && $3 == "not" { print $1, "MISSING" }')
    case $elf in */libssl.so.3 | */libcrypto.so.3) needed[$(basename "$elf")]=$elf ;; esac
done
for name in "${!needed[@]}"; do
    [ "${needed[$name]}" != MISSING ] || { echo "bundle: $name is not installed here" >&2; exit 1; }
    [[ $name =~ $system_libs ]] && continue
    place "${needed[$name]}" "$out/lib/$name" '$ORIGIN'
done

# ICU's data library is 31 MB of locales, collation and converters; Qt uses ICU here only for
# the GBK converter. A data library with just that converter (and the alias table that maps
# "GBK" to it) replaces it.
icudata=$(cd "$out/lib" && ls libicudata.so.* 2>/dev/null || true)
if ! $full_icu && [ -n "$icudata" ]; then
    version=${icudata#libicudata.so.}
    symbol=icudt${version}_dat
    package=icudt${version}l
    # The data is the library's read-only section, which holds nothing but that symbol.
    read -r offset size < <(readelf -SW "${needed[$icudata]}" |
        awk '{ for (i = 1; i < NF; i++) if ($i == ".rodata") print $(i + 3), $(i + 4) }')
    offset=$((16#$offset)) size=$((16#$size))
    [[ $(nm -D "${needed[$icudata]}") == *" R $symbol"* ]] || { echo "bundle: $icudata has no $symbol" >&2; exit 1; }
    dd if="${needed[$icudata]}" of="$work/$package.dat" bs=1M iflag=skip_bytes,count_bytes \
        skip="$offset" count="$size" status=none
    # windows-936-2000 (ICU's GBK) extends ibm-1386 and cannot load without it.
    printf '%s\n' cnvalias.icu windows-936-2000.cnv ibm-1386_P100-2001.cnv >"$work/items.txt"
    mkdir "$work/items" "$work/small"
    (cd "$work" && icupkg -d items -x items.txt "$package.dat" && icupkg -s items -a items.txt new "small/$package.dat")
    cat >"$work/data.S" <<EOF
    .section .rodata
    .globl $symbol
    .type $symbol, @object
    .balign 16
$symbol:
    .incbin "$work/small/$package.dat"
    .size $symbol, . - $symbol
    .section .note.GNU-stack,"",@progbits
EOF
    gcc -shared -nostdlib -Wl,-soname,"$icudata" -o "$out/lib/$icudata" "$work/data.S"
fi

# Relative to the folder that holds qt.conf: plugins in platforms/, imageformats/ and tls/
# beside the program, not in the path Debian's Qt was built with.
cat >"$out/qt.conf" <<'EOF'
[Paths]
Prefix = .
Libraries = lib
Plugins = .
EOF

# The program must not reach for a library of this machine's that the bundle lacks.
for elf in "$out/Installer" "$out"/lib/*.so* "$out"/{platforms,imageformats,tls}/*.so; do
    while read -r name path; do
        [[ $name =~ $system_libs ]] && continue
        case $path in
        "$out"/*) ;;
        *) echo "bundle: $elf loads $name from $path, outside the bundle" >&2; exit 1 ;;
        esac
    done < <(ldd "$elf" | awk '$2 == "=>" { print $1, $3 }')
done

contents=(Installer qt.conf lib platforms imageformats tls)
if [ -f "$out/pack.db" ]; then
    contents+=(pack.db)
else
    echo "bundle: note: no pack.db in $out yet; write one with: packtool write --bundle $out ..." >&2
fi
rm -rf "$work"
trap - EXIT
parent=$(dirname "$out") name=$(basename "$out")
contents=("${contents[@]/#/$name/}")
tar -C "$parent" --owner=0 --group=0 --sort=name -cf - "${contents[@]}" | xz "${xz_level[@]}" -T1 >"$out.tar.xz.part"
mv "$out.tar.xz.part" "$out.tar.xz"

echo "bundle: $out ($(du -sh "$out" | cut -f1)), $out.tar.xz ($(du -h "$out.tar.xz" | cut -f1))"
