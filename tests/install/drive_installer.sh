#!/usr/bin/env bash
# Drives the installer on an X display the way a user would: waits for its window, chooses a
# version, presses the install button, waits for the setup program to run, then closes the
# window. Saves screenshots and checks what the install left on disk.
#
# usage: drive_installer.sh APP_FOLDER SHOT_FOLDER VERSION_NUMBER UNPACK_NAME ARCHIVE_NAME [refusal]
#   APP_FOLDER holds the installer and its pack.db; VERSION_NUMBER counts from 1;
#   UNPACK_NAME/ARCHIVE_NAME are what the chosen version's address names in download/.
#   With "refusal" the install must end in a notice instead, with nothing unpacked or started
#   and the archive gone.
# INSTALLER_LAUNCH, when set, is a program that starts the installer in the caller's process (by
# exec), for example inside another root file system; it runs in APP_FOLDER.
# Every wait is bounded; exits non-zero when a check fails.
set -uo pipefail

app=$1 shots=$2 version=$3 unpack_name=$4 archive_name=$5 expect=${6:-install}
here=$(cd "$(dirname "$0")" && pwd)
download="$app/download"
failures=0
pass() { echo "  ok: $*"; }
fail() { echo "  FAILED: $*"; failures=$((failures + 1)); }

# Places in the window (client-area pixels): the version list, the install button, label1.
combo_x=209 combo_y=544 button_x=781 button_y=541 label_geometry=657x17+152+517

mkdir -p "$shots"
(cd "$app" && exec "${INSTALLER_LAUNCH:-./Installer}") >"$shots/installer.log" 2>&1 &
pid=$!
cleanup() { kill "$pid" 2>/dev/null; }
trap cleanup EXIT

window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -1)
if [ -z "$window" ]; then
    echo "  FAILED: the installer's window did not appear within 30 s"
    cat "$shots/installer.log"
    exit 1
fi
sleep 1 # FormShow's requests, then the first paint
import -window "$window" "$shots/opened.png"
pass "the window opened ($shots/opened.png)"

xdotool mousemove --window "$window" $combo_x $combo_y click 1
sleep 0.5
xdotool key Home
for ((i = 1; i < version; i++)); do xdotool key Down; done
xdotool key Return
sleep 0.3
xdotool mousemove --window "$window" $button_x $button_y click 1
sleep 0.3
import -window "$window" "$shots/installing.png"

if [ "$expect" = refusal ]; then
    box=""
    for _ in $(seq 150); do
        box=$(xdotool search --onlyvisible --name '^Installer$' 2>/dev/null | head -1 || true)
        [ -n "$box" ] && break
        sleep 0.2
    done
    if [ -z "$box" ]; then
        fail "no notice within 30 s"
    else
        sleep 0.3
        import -window root "$shots/refused.png"
        pass "the install was refused with a notice ($shots/refused.png)"
        xdotool windowfocus --sync "$box" key Return
    fi
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        fail "the installer did not end after the notice"
    else
        pass "the installer ended after the notice"
    fi
    sleep 1 # a setup program started by mistake would have written by now
    [ ! -e "$download/$archive_name" ] && pass "the archive is gone" || fail "the archive $download/$archive_name is there"
    [ -z "$(ls -A "$download/$unpack_name" 2>/dev/null)" ] && pass "nothing was unpacked" ||
        fail "files were unpacked into $download/$unpack_name"
    [ "$failures" -eq 0 ]
    exit
fi

# A shot every half second while the install runs (up to 30 of them): the progress panel with
# its percentage, speed and, on a bad network, its reconnect text.
marker=""
for tick in $(seq 600); do
    [ -f "$download/$unpack_name/setup-ran.txt" ] && marker="$download/$unpack_name/setup-ran.txt" && break
    kill -0 "$pid" 2>/dev/null || break
    if [ $((tick % 5)) -eq 0 ] && [ "$tick" -le 150 ]; then
        import -window "$window" "$shots/installing-$(printf %02d $((tick / 5))).png"
    fi
    sleep 0.1
done
if [ -n "$marker" ]; then
    pass "the setup program ran: $(head -1 "$marker")"
else
    fail "the setup program did not run within 60 s"
fi
sleep 1 # the closing text follows the start of the setup program
import -window "$window" "$shots/finished.png"

# label1 holds text (dark pixels) that is not what it showed while installing.
ink() { convert "$1" -crop "$label_geometry" +repage -colorspace gray -threshold 50% -negate \
            -format '%[fx:round(mean*w*h)]' info:; }
during=$(convert "$shots/installing.png" -crop "$label_geometry" +repage rgb:- | md5sum)
after=$(convert "$shots/finished.png" -crop "$label_geometry" +repage rgb:- | md5sum)
if [ "$(ink "$shots/finished.png")" -gt 50 ] && [ "$during" != "$after" ]; then
    pass "the window shows its closing text ($shots/finished.png)"
else
    fail "the progress panel does not show a closing text ($shots/finished.png)"
fi

[ -f "$download/$archive_name" ] && pass "the archive is in place before the close" ||
    fail "no archive at $download/$archive_name"
python3 "$here/close_window.py" "$window"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
    fail "the installer did not end within 10 s of closing its window"
else
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] && pass "closing the window ended the installer (status 0)" ||
        fail "the installer ended with status $status"
fi
[ ! -e "$download/$archive_name" ] && pass "closing the window deleted the archive" ||
    fail "the archive $download/$archive_name is still there"
[ -f "$download/$unpack_name/setup-ran.txt" ] && pass "the unpacked folder stays: $download/$unpack_name" ||
    fail "the unpacked folder is gone"

[ "$failures" -eq 0 ]
