#!/bin/sh
# The sample product's setup program: it records that it ran in setup-ran.txt next to itself.
here=$(cd "$(dirname "$0")" && pwd)
{
    echo "setup ran at $(date '+%Y-%m-%d %H:%M:%S')"
    echo "working directory: $(pwd)"
} > "$here/setup-ran.txt"
