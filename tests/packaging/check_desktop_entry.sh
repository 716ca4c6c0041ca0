#!/bin/sh
# The desktop entry passes desktop-file-validate. Validators that know the format only up to 1.4
# (Debian 12 has one) reject SingleMainWindow, a 1.5 key: they validate the entry without it, and
# the key's value is checked here.
# Usage: check_desktop_entry.sh <entry.desktop>
set -eu
entry=$1
known=$(desktop-file-validate --help 2>&1 | sed -n 's/.*[Ss]pecification \([0-9]*\.[0-9]*\).*/\1/p' | head -n 1)
case "$known" in
  1.[0-4])
    if ! grep -Eqx 'SingleMainWindow=(true|false)' "$entry"; then
      echo "$entry: SingleMainWindow is missing or not a boolean" >&2
      exit 1
    fi
    copy=$(mktemp -d)
    trap 'rm -rf "$copy"' EXIT
    grep -v '^SingleMainWindow=' "$entry" > "$copy/$(basename "$entry")"
    desktop-file-validate "$copy/$(basename "$entry")"
    ;;
  *)
    desktop-file-validate "$entry"
    ;;
esac
