#!/usr/bin/env bash
# Starts the built installer the way a user does, from a folder of its own on a real X server
# (Xvfb, xcb platform), and answers its boxes with the keyboard:
#   (a) no pack.db: the notice "文件不存在：<path>", then the window's opening load, then exit
#       status 0;
#   (b) a package whose payload holds the pair G1: the "Application Error" box, then status 1.
# Screenshots of each box go to the given folder. Every wait is bounded.
# usage: blackbox_test.sh INSTALLER SHOT_FOLDER
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    installer=$(realpath "$1")
    shots=$2
    mkdir -p "$shots"
    exec timeout 90 xvfb-run -a -s "-screen 0 1280x800x24 -noreset" bash "$0" --inside "$installer" "$(realpath "$shots")"
fi
installer=$2
shots=$3
# Kept beside the screenshots rather than in /tmp, where other programs may clean up.
work=$(mktemp -d "$shots/run.XXXXXX")
trap 'rm -rf "$work"' EXIT
unset QT_QPA_PLATFORM
caption='^软件在线安装$'

. "$(dirname "${BASH_SOURCE[0]}")/../screen_checks.sh"

# run CASE BOX_TITLE EXIT_STATUS [pack.db bytes as a printf format]
run() {
    case=$1
    local title=$2 expected=$3 pack=${4:-}
    local folder="$work/$case"
    mkdir -p "$folder"
    cp "$installer" "$folder/Installer"
    if [ -n "$pack" ]; then printf "$pack" >"$folder/pack.db"; fi

    # Killed (status 137) if it is still running a minute later.
    (cd / && exec timeout -s KILL 60 "$folder/Installer") & local pid=$!
    local box
    box=$(wait_window "^$title\$") || { kill "$pid" 2>/dev/null; fail "no box titled \"$title\""; }
    [ "$(xdotool getwindowname "$box")" = "$title" ] || fail "box title is \"$(xdotool getwindowname "$box")\""
    if xdotool search --onlyvisible --name "$caption" >/dev/null 2>&1; then
        kill "$pid"; fail "the main window is shown before the box"
    fi
    import -window root "$shots/$case.png"
    # Something was drawn: the screen is not uniformly black.
    [ "$(convert "$shots/$case.png" -format '%[fx:maxima>0]' info:)" = 1 ] || fail "blank screenshot"

    xdotool windowfocus --sync "$box" key Return
    local status=0
    wait "$pid" || status=$?
    [ "$status" = "$expected" ] || fail "exit status $status, expected $expected"
    # The window's opening load creates download/: it ran after a notice, never after a failure.
    if [ "$expected" = 0 ]; then
        [ -d "$folder/download" ] || fail "the window's opening load did not run"
    else
        [ ! -e "$folder/download" ] || fail "the opening load ran after a failed creation"
    fi
    echo "ok ($case): box \"$title\", exit status $status, screenshot $shots/$case.png"
}

run missing-package Installer 0
run not-hex-payload "Application Error" 1 'G1\x02\x00\x00\x00'
