#!/bin/sh
# Fails when a source outside SRC/app includes a header of the application layer ("app/...").
# Usage: no-app-include.sh SRC
set -eu
cd "$1"
found=$(find . -path ./app -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print |
    xargs grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]app/' || true)
if [ -n "$found" ]; then
    printf '%s\n' "$found"
    exit 1
fi
