#!/bin/bash
# Completion of kvos, against a stand-in tool whose help holds the forms
# that the real help uses and some that must not be taken for words.
# Usage: kvos_completion_test.sh COMPLETION_SCRIPT
set -u
# shellcheck source=/dev/null
. "$1"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=$work/kvos
cat >"$tool" <<'TOOL'
#!/bin/sh
case "$1" in
--help) cat <<'HELP'
Usage: kvos [COMMAND [ARGS...]]

Without a command, kvos describes things.
  indented  but before the list: no command

Commands:
  alpha    does a (see --beside)
  beta-2   does b
  gamma

  omega    after the list: no command
Run 'kvos COMMAND --help' for the usage of a command.
HELP
;;
alpha) cat <<'HELP'
Usage: kvos alpha get FILE [--comment TEXT]
       kvos alpha self | user | temp
       kvos alpha PID [--interval MS]
       kvos alpha [N]
       kvos alpha put-2 X
       kvos alpha set key VALUE
                  [--file F] [--] MESSAGE...
       kvos beta-2 stranger
not kvos alpha fake

  --grep TEXT   lines that hold TEXT
HELP
;;
beta-2) printf 'Usage: kvos beta-2 [VALUE]\n\nA value, -1 or more.\n' ;;
*) exit 2 ;;
esac
TOOL
chmod +x "$tool"

failures=0
# expect NAME EXPECTED WORD... : completes the words (the last is the one
# being typed) and compares the offers, sorted.
expect() {
    local name=$1 expected=$2
    shift 2
    COMP_WORDS=("$tool" "$@")
    COMP_CWORD=$#
    _kvos
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
    if [[ $got != "$expected" ]]; then
        echo "FAIL $name: expected [$expected], got [$got]"
        failures=$((failures + 1))
    fi
}

expect "commands" "alpha beta-2 gamma" ""
expect "command prefix" "beta-2" "b"
expect "no such command" "" "x"
expect "tool options" "--help --version" "-"
expect "sub-commands, alternatives included" "get put-2 self set temp user" alpha ""
expect "sub-command prefix" "self set" alpha "s"
expect "options of a command" "--comment --file --grep --help --interval" alpha "--"
expect "option prefix" "--comment" alpha "--c"
expect "options after the sub-command" "--interval" alpha get "--i"
expect "arguments are left to file names" "" alpha get ""
expect "command without sub-commands" "" beta-2 ""
expect "command without options" "--help" beta-2 "-"
expect "unknown command" "" nothere ""
expect "unknown command's options" "" nothere "--"

# A tool path that does not run yet (not built) falls back to kvos on PATH.
saved_path=$PATH
PATH=$work:$PATH
COMP_WORDS=("$work/missing/kvos" "")
COMP_CWORD=1
_kvos
PATH=$saved_path
got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
if [[ $got != "alpha beta-2 gamma" ]]; then
    echo "FAIL fallback to kvos on PATH: got [$got]"
    failures=$((failures + 1))
fi

# A tool named from the home directory, as the shell leaves it: ~/kvos.
saved_home=$HOME
HOME=$work
COMP_WORDS=("~/kvos" "al")
COMP_CWORD=1
_kvos
HOME=$saved_home
if [[ ${COMPREPLY[*]} != alpha ]]; then
    echo "FAIL a tool under ~: got [${COMPREPLY[*]}]"
    failures=$((failures + 1))
fi

if ! complete -p kvos | grep -q -- '-F _kvos'; then
    echo "FAIL the script does not register _kvos for kvos"
    failures=$((failures + 1))
fi

[[ $failures -eq 0 ]] && echo "completion: ok"
exit $((failures != 0))
