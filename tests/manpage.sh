#!/bin/bash
# The manual page must render without a single complaint from mandoc or groff.
# Usage: manpage.sh PAGE

page=$1
passed=0
failed=0
if ! command -v mandoc >/dev/null || ! command -v groff >/dev/null; then
  echo "SKIPPED: mandoc and groff are needed to check the manual page"
  exit 77
fi
lint=$(mandoc -T lint -W warning "$page" 2>&1)
groffwarnings=$(groff -ww -z -man -T utf8 "$page" 2>&1)
for found in "$lint" "$groffwarnings"; do
  if [ -z "$found" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "$found"
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
