#!/usr/bin/env bash
# The generated bash completion of wavtokeb-cli, run as bash runs it on TAB: the words offered
# for command lines typed so far, in a folder of sample files.
#   completion_test.sh COMPLETION_SCRIPT WAVTOKEB_CLI
set -uo pipefail
script=$1
cli=$2
# shellcheck source=/dev/null
source "$script" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir out "sub dir"
touch rec.wav "a b.wav" REEF.TK1 other.tk1 notes.txt
failures=0

# offers "LINE" WORD...: completing LINE (the last word is the one being typed, possibly empty)
# offers exactly the words given, in any order.
offers() {
    local line=$1
    shift
    read -r -a COMP_WORDS <<< "$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_WORDS[0]=$cli
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _wavtokeb_cli 2>/dev/null
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort)
    want=$(printf '%s\n' "$@" | sed '/^$/d' | sort)
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line' offered [$(echo $got)], expected [$(echo $want)]"
        failures=$((failures + 1))
    fi
}

offers "wavtokeb-cli " convert scrapbook list dump settings trains presence help --help \
    --version
offers "wavtokeb-cli sc" scrapbook
offers "wavtokeb-cli help d" dump
offers "wavtokeb-cli convert --jo" --jobs
offers "wavtokeb-cli list --loc" --location --locations
offers "wavtokeb-cli dump --" --help --version --quiet --csv --linkage --recordings --raven \
    --per-file --audacity --minutes-csv --overwrite --trains --min-quality --set-train
offers "wavtokeb-cli presence --per " minute hour day
offers "wavtokeb-cli trains --min-quality m" moderate
offers "wavtokeb-cli settings --pre" --preset
offers "wavtokeb-cli convert --preset " normal severe minimal
offers "wavtokeb-cli convert --preset s" severe
offers "wavtokeb-cli list --time-source " auto name file
offers "wavtokeb-cli convert -o " out "sub dir"
offers "wavtokeb-cli convert --out = " out "sub dir"
offers "wavtokeb-cli convert --progress = "
offers "wavtokeb-cli convert --jobs "
offers "wavtokeb-cli convert --set MinN" MinNcycFedit=
offers "wavtokeb-cli convert --minutes no" notes.txt
offers "wavtokeb-cli list a" "a b.wav"
offers "wavtokeb-cli convert -q -- --" 
offers "wavtokeb-cli dump " REEF.TK1 other.tk1 out "sub dir"
offers "wavtokeb-cli dump --audacity " out "sub dir"
offers "wavtokeb-cli settings "
offers "wavtokeb-cli nonsense --"

if ((failures > 0)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "every completion case passed"
