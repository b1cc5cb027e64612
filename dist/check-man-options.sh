#!/usr/bin/env bash
# Fails when PROGRAM --help lists an option that the manual page source does
# not document (as *--option*), so a new option cannot ship without its page.
#
#   dist/check-man-options.sh PROGRAM PAGE.scd
set -uo pipefail
program=${1:?usage: check-man-options.sh PROGRAM PAGE.scd} page=${2:?usage: check-man-options.sh PROGRAM PAGE.scd}

help=$(timeout 20 "$program" --help < /dev/null 2>&1)
status=$?
if [ "$status" -ne 0 ]; then
  echo "$program --help: exit status $status" >&2
  exit 1
fi
# Option lines of Qt's help text: "  -v, --version    Displays ...".
options=$(sed -n 's/^  \(-[A-Za-z], \)\{0,1\}\(--[a-z][a-z0-9-]*\).*/\2/p' <<< "$help" | sort -u)
if [ -z "$options" ]; then
  echo "$program --help lists no options" >&2
  exit 1
fi
missing=()
for option in $options; do
  grep -qF -- "*$option*" "$page" || missing+=("$option")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "$(basename "$page") does not document: ${missing[*]}" >&2
  exit 1
fi
echo "$(basename "$page") documents all $(wc -w <<< "$options") options of $(basename "$program")"
