#!/bin/sh
# Lints the manual page: groff must format it without a single warning, and
# man must lay it out in 80 columns without complaint.
page=$1
command -v groff >/dev/null || { echo "skipped: groff is not installed"; exit 77; }
warnings=$(groff -ww -z -t -man "$page" 2>&1)
if command -v man >/dev/null; then
  warnings="$warnings$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
fi
if [ -n "$warnings" ]; then
  printf '%s\n' "$warnings"
  exit 1
fi
echo "manual page: no warnings"
