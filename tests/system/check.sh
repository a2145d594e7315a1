# Sourced by the qz5ctl scripts: a scratch folder removed on exit, and
# check NAME CONDITION, which prints ok/FAIL and remembers a failure in $fail.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }
