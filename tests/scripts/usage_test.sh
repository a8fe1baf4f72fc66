#!/usr/bin/env bash
# vantrel.sh takes exactly one known command: anything else prints the usage
# on stderr and exits with status 2, before it installs or builds anything.
set -u
script="$(dirname "$0")/../../vantrel.sh"
failed=0
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for args in "" "frobnicate" "run extra" "test --verbose" "fuzz soon" "fuzz 0" "fuzz 10 more" "test 10"; do
    # shellcheck disable=SC2086 # the words of each case are its arguments
    out=$("$script" $args 2>"$errors"); status=$?
    err=$(cat "$errors")
    if [ "$status" -ne 2 ] || [ -n "$out" ] || [ "${err%%$'\n'*}" != "Usage: ./vantrel.sh COMMAND" ]; then
        echo "vantrel.sh $args: status $status, stdout '$out', stderr '$err'"
        failed=1
    fi
done
exit $failed
