# Sourced by the benchmarks, which write every run into a folder of its own and remove them all
# only at the end.
#
# ext4 without a journal (as on the machines here) makes each file created within minutes of
# many deletions step over the deleted inodes one by one: creating 6,000 files took 1.0 s three
# and a half minutes after a bench had removed its folders, and 0.17 s from five and a half
# minutes on. A bench started sooner measures what the file system remembers of the last one,
# and the tools that create files on several threads lose most of their lead. So each bench
# notes when it removed its folders, and the next one first waits until six minutes have passed.
removals_mark=/tmp/bench-removed-at

# Removes the given folders and notes when.
remove_runs() {
    rm -rf "$@"
    sync
    date +%s > "$removals_mark"
}

# Waits until the last removal noted is six minutes past.
wait_out_removals() {
    [ -f "$removals_mark" ] || return 0
    local left=$(( $(cat "$removals_mark") + 360 - $(date +%s) ))
    if [ "$left" -gt 0 ]; then
        echo "== waiting $left s until the last bench's removals are six minutes past"
        sleep "$left"
    fi
}
