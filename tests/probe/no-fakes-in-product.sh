#!/bin/sh
# Fails when the test doubles of src/platform/fake reach the product: an object of theirs in the
# core library, or a symbol of a Fake class in a program.
# Usage: no-fakes-in-product.sh CORE_ARCHIVE PROGRAM...
set -eu
core=$1
shift
members=$(ar t "$core")
if printf '%s\n' "$members" | grep -i fake; then
    echo "$core holds a test double's object" >&2
    exit 1
fi
for program in "$@"; do
    symbols=$(nm -C "$program") || { echo "cannot read the symbols of $program" >&2; exit 1; }
    [ -n "$symbols" ] || { echo "$program has no symbols to check (stripped?)" >&2; exit 1; }
    count=$(printf '%s\n' "$symbols" | grep -c Fake || true)
    if [ "$count" -ne 0 ]; then
        printf '%s\n' "$symbols" | grep Fake | head -20 >&2
        echo "$program holds $count symbols of a Fake class" >&2
        exit 1
    fi
done
