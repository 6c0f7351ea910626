#!/bin/sh
# Fails when a source outside SRC/app includes a header of the application layer ("app/..."), or a
# source of a layer below the engine includes one of the engine ("engine/...").
# Usage: no-app-include.sh SRC
set -eu
cd "$1"
found=$(find . -path ./app -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print |
    xargs grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]app/' || true)
below=$(find ./session ./resolve ./autokill ./platform ./settings ./text -type f \( -name '*.h' -o -name '*.cpp' \) \
    -print | xargs grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]engine/' || true)
if [ -n "$found$below" ]; then
    printf '%s\n' "$found" "$below" | sed '/^$/d'
    exit 1
fi
