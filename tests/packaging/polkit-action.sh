#!/bin/sh
# The polkit action shipped for the reset helper: one policy file in ACTIONS_DIR, valid against
# polkit's DTD (when polkit's DTD is installed), whose exec.path annotation is HELPER_PATH (what
# pkexec compares with the program it is asked to run), asking an active local user for the
# administrator's password with the answer kept a few minutes (auth_admin_keep: the window's helper
# then lives as long as the window) and others every time.
# Usage: polkit-action.sh ACTIONS_DIR HELPER_PATH
set -e
dir=$1 helper=$2
fail() {
    echo "polkit-action: $*" >&2
    exit 1
}
set -- "$dir"/*.policy
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one polkit policy in $dir, found: $*"
policy=$1
dtd=/usr/share/polkit-1/policyconfig-1.dtd
if [ -f "$dtd" ] && command -v xmllint >/dev/null; then
    xmllint --noout --nonet --dtdvalid "$dtd" "$policy" || fail "$(basename "$policy") is not valid"
else
    echo "polkit's DTD or xmllint missing: the policy is not validated"
fi
path=$(sed -n 's:.*<annotate key="org.freedesktop.policykit.exec.path">\(.*\)</annotate>.*:\1:p' "$policy")
[ "$path" = "$helper" ] || fail "the action names '$path', not $helper"
id=$(sed -n 's:.*<action id="\([^"]*\)".*:\1:p' "$policy")
[ "$(basename "$policy")" = "$id.policy" ] || fail "$(basename "$policy") is not named after its action $id"
grep -q '<allow_active>auth_admin_keep</allow_active>' "$policy" || fail "an active user's answer is not kept (auth_admin_keep)"
grep -q '<allow_any>auth_admin</allow_any>' "$policy" || fail "a remote user is not asked every time"
echo "polkit action $id: runs $path"
