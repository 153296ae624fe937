#!/bin/bash
# The manual page against the tool's own help: every command has a section,
# every section a command, and each command's section names every
# sub-command and option that "kvos COMMAND --help" lists. The words are
# read the way completion reads them.
# Usage: kvos_manpage_test.sh COMPLETION_SCRIPT KVOS MANPAGE_SOURCE
set -u
# shellcheck source=/dev/null
. "$1"
tool=$2
page=$3

failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

# The page as text: font changes and escapes removed, requests kept so that
# sections can be found.
text=$(sed -e 's/\\f[BIRP]//g' -e 's/\\f([A-Z][A-Z]//g' -e 's/\\-/-/g' \
           -e 's/\\(dq/"/g' -e "s/\\\\(aq/'/g" -e 's/\\e/\\/g' "$page") || exit 1

# section NAME: the text of ".SS NAME" up to the next section.
section() {
    awk -v name="$1" '/^\.S[SH]( |$)/ { gsub(/"/, ""); inside = ($1 == ".SS" && $2 == name); next }
                      inside' <<<"$text"
}

commands=$(_kvos_words "$tool" commands)
[[ -n $commands ]] || fail "kvos --help lists no commands (is $tool the tool?)"

for command in $commands; do
    body=$(section "$command")
    if [[ -z $body ]]; then
        fail "no section '.SS $command' for the command $command"
        continue
    fi
    # Sub-commands in the section's synopsis (its first .nf block), where
    # prose cannot stand in for them; options anywhere in the section.
    synopsis=$(awk '/^\.nf/ { on = 1; next } /^\.fi/ { exit } on' <<<"$body")
    for word in $(_kvos_words "$tool" subcommands "$command"); do
        grep -qwF -- "$word" <<<"$synopsis" || fail "the synopsis of $command does not name $word"
    done
    for word in $(_kvos_words "$tool" options "$command"); do
        # --help of every command is told once, under OPTIONS.
        [[ $word == --help ]] && continue
        grep -qwF -- "$word" <<<"$body" || fail "the section of $command does not name $word"
    done
done

# A section for a command that is gone documents what no longer exists.
for documented in $(awk '/^\.SH COMMANDS/ { on = 1; next } /^\.SH / { on = 0 } on && /^\.SS / { gsub(/"/, ""); print $2 }' <<<"$text"); do
    grep -qxF -- "$documented" <<<"$commands" || fail "section $documented documents no command of kvos --help"
done

for option in $(_kvos_words "$tool" options) --version; do
    grep -qwF -- "$option" <<<"$text" || fail "the page does not name the tool option $option"
done

# The page must format without complaints where groff is at hand.
if command -v groff >/dev/null 2>&1; then
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [[ -z $warnings ]] || fail "groff warns: $warnings"
else
    echo "groff not installed: the formatting check is skipped"
fi

[[ $failures -eq 0 ]] && echo "manual page: ok ($(wc -w <<<"$commands") commands)"
exit $((failures != 0))
