# Sourced by the benchmarks, which call warm_memory just before each timed run.
#
# On a virtual machine whose host takes back the memory that the guest frees, the first touch of
# each page after that costs a host fault: touching 2 GB took 0.6 to 1.8 s here, against about
# 0.2 s once warm. The tools allocate a page for every byte they write, so whichever ran while
# the memory was cold took up to three times as long for the same archive, from one round to the
# next. Touching that much memory and freeing it again just before each run gives every tool the
# same start, as on a machine of its own.
warm_memory() {
    python3 -c 'bytearray(b"\1") * (2 << 30)'
}
