#!/bin/sh
# Builds the Debian package in build/ (or the folder given) and checks it: lintian finds no error,
# the desktop entry and the AppStream metadata it ships validate, the manual page formats without
# a warning, and the manual page and the bash completion know every option of `varnel --help`.
# As root with CI=true (or VARNEL_PACKAGE_INSTALL=1) it also installs the package with apt-get,
# runs the installed program, removes the package and checks that none of its files are left.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
work=$(mktemp -d)
installed_here=""
cleanup() {
    if [ -n "$installed_here" ]; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq varnel >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package-check: $*" >&2
    exit 1
}

sh scripts/package.sh "$BUILD_DIR" >/dev/null
set -- "$BUILD_DIR"/varnel_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one varnel_*.deb in $BUILD_DIR, found: $*"
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
echo "== $deb"
dpkg-deb -f "$deb" Package Version Depends

echo "== lintian"
# Errors fail the check; warnings and infos are printed for the record.
lintian_rc=0
lintian --display-info --fail-on error "$deb" >"$work/lintian" 2>&1 || lintian_rc=$?
grep -v '^running with root privileges' "$work/lintian" || echo "(no tags)"
[ "$lintian_rc" = 0 ] || fail "lintian reports errors (exit status $lintian_rc)"

# What the package ships is what gets validated.
root="$work/root"
dpkg-deb -x "$deb" "$root"

echo "== desktop-file-validate"
set -- "$root"/usr/share/applications/*.desktop
[ -f "$1" ] || fail "no desktop entry in the package"
for f in "$@"; do
    out=$(desktop-file-validate "$f" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
    echo "$(basename "$f"): clean"
done

echo "== appstreamcli validate-tree"
set -- "$root"/usr/share/metainfo/*.metainfo.xml
[ -f "$1" ] || fail "no AppStream metainfo in the package"
# The whole tree, so that the desktop entry the metainfo launches is checked to be there too.
appstreamcli validate-tree --no-net --strict "$root" || fail "appstreamcli validate-tree failed"
desktop_id=$(basename "$(ls "$root"/usr/share/applications/*.desktop)")
grep -q "<launchable type=\"desktop-id\">$desktop_id</launchable>" "$@" ||
    fail "the metainfo does not launch $desktop_id"

echo "== polkit action"
sh tests/packaging/polkit-action.sh "$root/usr/share/polkit-1/actions" /usr/libexec/varnel/varnel-reset-helper

echo "== manual page"
man_gz="$root/usr/share/man/man1/varnel.1.gz"
[ -f "$man_gz" ] || fail "no manual page in the package"
gzip -dc "$man_gz" >"$work/varnel.1"
warnings=$(groff -man -ww -z "$work/varnel.1" 2>&1)
[ -z "$warnings" ] || fail "groff warns about varnel.1: $warnings"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$work/varnel.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man warns about varnel.1: $warnings"
echo "varnel.1: formats without warnings"

echo "== options"
sh tests/packaging/options-documented.sh "$root/usr/bin/varnel" "$man_gz" \
    "$root/usr/share/bash-completion/completions/varnel"

if [ "$(id -u)" != 0 ] || { [ "$CI" != true ] && [ "$VARNEL_PACKAGE_INSTALL" != 1 ]; }; then
    echo "== not installing the package (needs root and CI=true or VARNEL_PACKAGE_INSTALL=1)"
    exit 0
fi

echo "== apt-get install"
# A copy left by an earlier run that was killed would hide what this package installs.
case $(dpkg-query -W -f='${Status}' varnel 2>/dev/null || true) in
    *" installed")
        echo "removing the varnel installed before"
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq varnel >/dev/null
        ;;
esac
cp "$deb" "$work/"
installed_here=1
# Without the recommended pkexec: the check needs nothing from outside this machine.
(cd "$work" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "./$(basename "$deb")" >/dev/null)
dpkg-query -W -f='${Status}\n' varnel | grep -q " installed$" || fail "apt-get did not install varnel"
dpkg -L varnel >"$work/files"
# Configuration files stay after removal, as with every Debian package.
dpkg-query -W -f='${Conffiles}\n' varnel | awk 'NF { print $1 }' >"$work/conffiles"
for f in /usr/bin/varnel /usr/share/applications/"$desktop_id" /usr/share/man/man1/varnel.1.gz \
         /lib/systemd/system/varnel-headless.service /etc/varnel/varnel.ini \
         /usr/share/icons/hicolor/scalable/apps/varnel.svg /usr/share/icons/hicolor/48x48/apps/varnel.png \
         /usr/libexec/varnel/varnel-reset-helper /usr/share/polkit-1/actions/org.example.varnel.reset-helper.policy; do
    grep -qx "$f" "$work/files" || fail "the package does not own $f"
    [ -e "$f" ] || fail "$f is not installed"
done
[ "$(command -v varnel)" = /usr/bin/varnel ] || fail "varnel on PATH is $(command -v varnel), not /usr/bin/varnel"

# The installed program keeps its files in $XDG_CONFIG_HOME/varnel/; a scratch one here.
home="$work/home"
mkdir -p "$home/config/varnel"
run() { env HOME="$home" XDG_CONFIG_HOME="$home/config" "$@"; }

if command -v systemd-analyze >/dev/null; then
    echo "== systemd-analyze verify, security"
    systemd-analyze verify /lib/systemd/system/varnel-headless.service || fail "the service unit does not verify"
    systemd-analyze security --offline=true /lib/systemd/system/varnel-headless.service 2>/dev/null | tail -1
fi

echo "== varnel --list"
run /usr/bin/varnel --list >"$work/list" || fail "varnel --list failed"
head -1 "$work/list"
[ "$(head -1 "$work/list" | awk -F '\t' '{print NF}')" = 9 ] || fail "varnel --list: no nine-column title line"

echo "== varnel --check-rules"
printf '# scratch rules\nALLOW=1,HOST2=.updates.example.org\nPORT2=6667\n' >"$home/rules.txt"
run varnel --check-rules "$home/rules.txt" >"$work/check" || fail "varnel --check-rules FILE failed"
cat "$work/check"
grep -q 'PORT2=6667' "$work/check" || fail "varnel --check-rules FILE does not show the port rule"
# Without FILE it reads the rule file in the settings folder under XDG_CONFIG_HOME.
printf 'PORT2=4713\n' >"$home/config/varnel/varnel_autoblock.txt"
run varnel --check-rules >"$work/check-own" || fail "varnel --check-rules failed on its own rule file"
grep -q 'PORT2=4713' "$work/check-own" || fail "the installed varnel does not read \$XDG_CONFIG_HOME/varnel/"

echo "== bash completion"
offered=$(bash -c '. /usr/share/bash-completion/completions/varnel
    COMP_WORDS=(varnel --la); COMP_CWORD=1; _varnel; echo "${COMPREPLY[*]}"
    COMP_WORDS=(varnel --lang ""); COMP_CWORD=2; _varnel; echo "${COMPREPLY[*]}"')
echo "$offered"
[ "$offered" = "--lang
EN JP" ] || fail "the bash completion offers: $offered"

echo "== apt-get remove"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq varnel >/dev/null
installed_here=""
status=$(dpkg-query -W -f='${Status}' varnel 2>/dev/null || true)
case $status in
    *" installed") fail "varnel is still installed after apt-get remove" ;;
esac
left=""
while read -r f; do
    [ -d "$f" ] && continue  # folders shared with other packages stay
    grep -qx "$f" "$work/conffiles" && continue
    [ -e "$f" ] || [ -L "$f" ] && left="$left $f"
done <"$work/files"
[ -z "$left" ] || fail "left behind after removal:$left"
[ -d /usr/share/doc/varnel ] && fail "/usr/share/doc/varnel is left behind"
[ -f "$home/config/varnel/varnel_autoblock.txt" ] || fail "removal took the user's rule file"
echo "removed: none of the $(wc -l <"$work/files") paths of the package is left; the user's settings folder stays"
echo "package-check: all checks passed"
