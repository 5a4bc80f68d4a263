#!/bin/bash
# The manual page must render without a single complaint from mandoc, at its style
# level (one sentence per line, lines of at most 80 bytes), or from groff.
# Usage: manpage.sh PAGE

export CLIENTMAC_READS_ONLY=1 # the page is read; the binary is not run
. "$(dirname "$0")/lib/host.sh"
command -v mandoc >/dev/null && command -v groff >/dev/null ||
  skip "mandoc and groff are needed to check the manual page"
judge "mandoc -T lint -W style" complaints "$(mandoc -T lint -W style "$1" 2>&1)" ""
judge "groff -ww" complaints "$(groff -ww -z -man -T utf8 "$1" 2>&1)" ""
finish
