#!/bin/bash
# Runs every fixture case under valgrind memcheck: no errors, and every heap block comes
# from the C library's stream functions (the table's FILE, standard output's buffer),
# none from the program's own code.

. "$(dirname "$0")/lib/host.sh"
command -v valgrind >/dev/null || skip "valgrind is not installed"

logs=$scratch
# ctest shows this at once only with -V; the cases take a minute, several on a slow machine.
echo "running each fixture case's program under valgrind memcheck, with its heap's allocation tree"
CLIENTMAC_EMULATOR="valgrind -q --error-exitcode=99 --leak-check=full \
--xtree-memory=full --xtree-memory-file=$logs/xtree.%p --log-file=$logs/log.%p" \
  bash "$testdir/fixtures.sh"
fixtures=$?
# The cases run in the fixtures' namespaces: where those cannot be made, this skips too.
[ "$fixtures" -eq 77 ] && skip "the fixture cases skipped"

# Prints "FILE FUNCTION BLOCKS" for each place that called the allocator itself, from
# valgrind's allocation trees (callgrind format, names compressed to "(id)").
allocators() {
  awk '
    function named(kind, text,   id) {
      id = text; sub(/ .*/, "", id)
      if (text ~ / /) { sub(/^\([0-9]+\) /, "", text); names[kind id] = text }
      return names[kind id]
    }
    /^fl=/ { file = named("fl", substr($0, 4)); next }
    /^(cfi|cfl)=/ { named("fl", substr($0, 5)); next }
    /^fn=/ { function_ = named("fn", substr($0, 4)); incall = 0; next }
    /^cfn=/ { named("fn", substr($0, 5)); next }
    /^calls=/ { incall = 1; next }
    /^[0-9]/ {
      if (incall) { incall = 0; next }
      if ($5 > 0) blocks[file " " function_] += $5
    }
    END { for (place in blocks) print place, blocks[place] }
  ' "$@"
}

# Only valgrind's own lines: with standard output closed, the log can take its place.
errors=$(cat "$logs"/log.* 2>/dev/null | grep '^==[0-9]*==')
# Every run of the program writes a log and a tree; with no tree, no heap was looked at,
# and the check below would pass on nothing.
runs=$(find "$logs" -maxdepth 1 -name 'log.*' | wc -l)
trees=$(find "$logs" -maxdepth 1 -name 'xtree.*' -size +0 | wc -l)
judge "an allocation tree from every run" "runs with a tree" "$trees" "$runs" \
  "runs at all" "$([ "$runs" -gt 0 ] && echo yes)" yes
places=$(allocators "$logs"/xtree.* 2>/dev/null | sort)
echo "heap blocks by the place that asked for them:"
echo "$places"
elsewhere=$(echo "$places" | grep -v '^\./libio/' | grep . | tr '\n' ';')
judge "fixture cases under valgrind" status "$fixtures" 0 errors "$errors" ""
judge "heap only from stdio" "allocations elsewhere" "$elsewhere" ""
finish
