# Sourced by the tests that drive a program on an X server with xdotool. The caller sets
# $case (the case's name) and $shots (where screenshots go).

# Ends the test: says why, keeps a screenshot of the screen and names the windows on it.
fail() {
    echo "FAIL ($case): $*" >&2
    import -window root "$shots/$case-failed.png" || true
    echo "windows on the screen:" >&2
    for id in $(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
        echo "  $id \"$(xdotool getwindowname "$id" 2>/dev/null)\"" >&2
    done
    exit 1
}

# Waits up to 20 s for a visible window whose name matches; prints its id.
wait_window() {
    local id
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.2
    done
    return 1
}
