# The median of the numbers on standard input, one per line (the lower middle one of an even
# count). Sourced by the benchmarks.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
