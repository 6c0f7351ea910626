#!/bin/sh
# Every option that `varnel --help` lists must be described in the manual page and offered by the
# bash completion, which must also complete the values of --lang.
# Usage: options-documented.sh VARNEL MANPAGE COMPLETION
set -e
varnel=$1 manpage=$2 completion=$3
fail() {
    echo "options-documented: $*" >&2
    exit 1
}
[ -x "$varnel" ] && [ -f "$manpage" ] && [ -f "$completion" ] || fail "usage: $0 VARNEL MANPAGE COMPLETION"
case $manpage in
    *.gz) text=$(gzip -dc "$manpage") ;;
    *) text=$(cat "$manpage") ;;
esac

options=$("$varnel" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
[ -n "$options" ] || fail "varnel --help lists no option"
offered=$(bash -c '. "$1"; COMP_WORDS=(varnel ""); COMP_CWORD=1; _varnel; echo "${COMPREPLY[*]}"' \
    sh "$completion")
for opt in $options; do
    # In roff an option is written with \- and stands on a request line (.B, .TP, .BR ...).
    roff=$(printf '%s' "$opt" | sed 's/-/\\\\-/g')
    printf '%s\n' "$text" | grep -q -- "^\.[A-Z]*.*$roff" || fail "the manual page does not describe $opt"
    case " $offered " in
        *" $opt "*) ;;
        *) fail "the completion does not offer $opt (offers: $offered)" ;;
    esac
done

values=$(bash -c '. "$1"; COMP_WORDS=(varnel --lang ""); COMP_CWORD=2; _varnel; echo "${COMPREPLY[*]}"' \
    sh "$completion")
[ "$values" = "EN JP" ] || fail "the completion offers \"$values\" after --lang, not \"EN JP\""
echo "documented and completed:" $options
