#!/bin/sh
# `cmake --install` of a built tree lays out what a Linux desktop program needs, and the pieces
# name each other consistently: the desktop entry runs the installed program and shows the
# installed icon, the AppStream metainfo launches that entry and shows screenshots that exist in
# docs/, every PNG icon has the size of its folder, the gzipped files carry no time stamp, and
# version and web address agree with the About box.
# Usage: install-layout.sh BUILD_DIR SOURCE_DIR
set -e
build=$1 source=$2
fail() {
    echo "install-layout: $*" >&2
    exit 1
}
[ -d "$build" ] && [ -d "$source/docs" ] || fail "usage: $0 BUILD_DIR SOURCE_DIR"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR="$work" cmake --install "$build" --prefix /usr >/dev/null
usr="$work/usr"

[ -x "$usr/bin/varnel" ] || fail "no executable usr/bin/varnel"
for f in share/man/man1/varnel.1.gz share/bash-completion/completions/varnel \
         share/doc/varnel/copyright share/doc/varnel/changelog.gz; do
    [ -f "$usr/$f" ] || fail "usr/$f is not installed"
done
[ -x "$usr/libexec/varnel/varnel-reset-helper" ] || fail "no executable usr/libexec/varnel/varnel-reset-helper"
[ "$(ls -A "$usr/libexec")" = varnel ] && [ "$(ls -A "$usr/libexec/varnel")" = varnel-reset-helper ] ||
    fail "usr/libexec holds more than the reset helper"

# The polkit action pkexec checks names the installed helper and keeps the answer for the session.
sh "$source/tests/packaging/polkit-action.sh" "$usr/share/polkit-1/actions" /usr/libexec/varnel/varnel-reset-helper

# gzip -n: bytes 4 to 7 of the header (the time stamp) are zero, so builds are reproducible.
for gz in "$usr/share/man/man1/varnel.1.gz" "$usr/share/doc/varnel/changelog.gz"; do
    [ "$(od -An -tu1 -j4 -N4 "$gz" | tr -s ' ')" = " 0 0 0 0" ] || fail "$gz has a time stamp"
done

set -- "$usr"/share/applications/*.desktop
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one desktop entry, found: $*"
desktop=$1
desktop_id=$(basename "$desktop")
field() { sed -n "s/^$1=//p" "$desktop"; }
exec_name=$(field Exec | cut -d' ' -f1)
[ -x "$usr/bin/$exec_name" ] || fail "Exec=$exec_name is not an installed program"
[ "$(field TryExec)" = "$exec_name" ] || fail "TryExec is not $exec_name"
icon=$(field Icon)
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon for Icon=$icon"
case $(field Categories) in
    *Network\;*Monitor\;*Qt\;*) ;;
    *) fail "Categories is not Network;Monitor;Qt;" ;;
esac
for key in 'Comment' 'Comment\[ja\]' 'Name'; do
    [ -n "$(field "$key")" ] || fail "the desktop entry has no $key"
done

# Every PNG size of the icon, each as large as its folder says.
sizes=0
for png in "$usr"/share/icons/hicolor/*x*/apps/"$icon".png; do
    [ -f "$png" ] || fail "no PNG icon for Icon=$icon"
    folder=$(basename "$(dirname "$(dirname "$png")")")
    set -- $(od -An -tu1 -j16 -N8 "$png")
    size="$(($1 << 24 | $2 << 16 | $3 << 8 | $4))x$(($5 << 24 | $6 << 16 | $7 << 8 | $8))"
    [ "$size" = "$folder" ] || fail "$png is $size, not $folder"
    sizes=$((sizes + 1))
done
[ "$sizes" -ge 4 ] || fail "only $sizes PNG sizes of the icon"

set -- "$usr"/share/metainfo/*.metainfo.xml
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one metainfo file, found: $*"
metainfo=$1
id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$metainfo")
[ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "$(basename "$metainfo") is not named after its id $id"
[ "$desktop_id" = "$id.desktop" ] || fail "the desktop entry $desktop_id is not named after the id $id"
grep -q "<launchable type=\"desktop-id\">$desktop_id</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $desktop_id"
grep -q "<binary>$exec_name</binary>" "$metainfo" || fail "the metainfo does not provide $exec_name"
homepage=$(sed -n 's:.*<url type="homepage">\(.*\)</url>.*:\1:p' "$metainfo")
[ -n "$homepage" ] || fail "the metainfo has no homepage"
shots=$(sed -n 's:.*<image[^>]*>\(.*\)</image>.*:\1:p' "$metainfo")
[ -n "$shots" ] || fail "the metainfo has no screenshots"
for url in $shots; do
    case $url in
        "$homepage"*) ;;
        *) fail "screenshot $url is not under $homepage" ;;
    esac
    [ -f "$source/${url#"$homepage"}" ] || fail "screenshot $url is not in the repository"
done

# One version and one address everywhere: the metainfo's release (the project's version), the
# package's changelog, the manual page and the About box.
version=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -1)
[ -n "$version" ] || fail "the metainfo has no release"
changelog_version=$(gzip -dc "$usr/share/doc/varnel/changelog.gz" | sed -n '1s/^varnel (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] || fail "the changelog is at ${changelog_version:-?}, the project at $version"
gzip -dc "$usr/share/man/man1/varnel.1.gz" | grep -q "^\.TH VARNEL 1 .*\"Varnel $version\"" ||
    fail "the manual page's title line does not say Varnel $version"
about="$source/src/app/gui/AboutBox.h"
grep -q "kVersionText = \".* Version $version\";" "$about" || fail "the About box does not say Version $version"
grep -q "kUrl = \"$homepage\";" "$about" || fail "the About box does not link to $homepage"

if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
else
    echo "desktop-file-validate not installed: not run"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --strict "$metainfo" >"$work/as.log" 2>&1 ||
        fail "appstreamcli validate: $(cat "$work/as.log")"
else
    echo "appstreamcli not installed: not run"
fi
echo "install layout: $desktop_id, $id, $sizes PNG sizes, $(echo "$shots" | wc -l) screenshots"
