# One fixture case, run by sh inside a mount and network namespace of its own (on the host
# and in the box alike): /proc becomes a tmpfs that holds TABLE at /proc/net/arp and the
# route table that ROUTE names (a file of fixtures/, lan.route unless set; "none" for no
# table) at /proc/net/route, then COMMAND runs with standard output as MODE says. With a PROCDIR, the shell's own
# /proc/PID stays (sanitizers and valgrind read it); every command execs the next, so the
# program keeps that PID.
# Usage: fixturecase.sh TABLE MODE OUT PROCDIR|- COMMAND...
#   TABLE: a file, "none" (no table), "dir" (a directory) or "fifo" (a FIFO with no
#   writer: opening it would hang). MODE: file (into OUT), closed, full (/dev/full), or
#   pipe (a pipe whose reader has gone).
table=$1 mode=$2 out=$3 keep=$4
shift 4
if [ "$keep" = - ]; then
  mount -t tmpfs none /proc && mkdir /proc/net || exit 99
else
  mount --rbind /proc "$keep" && mount -t tmpfs none /proc && mkdir /proc/net /proc/$$ &&
    mount --rbind "$keep/$$" /proc/$$ && ln -s $$ /proc/self || exit 99
fi
case $table in
  none) ;;
  dir) mkdir /proc/net/arp ;;
  fifo) mkfifo /proc/net/arp ;;
  *) cp "$table" /proc/net/arp || exit 99 ;;
esac
[ "${ROUTE:-}" = none ] || cp "$(dirname "$0")/fixtures/${ROUTE:-lan.route}" /proc/net/route || exit 99
case $mode in
  closed) exec "$@" >&- ;;
  full) exec "$@" >/dev/full ;;
  pipe) mkfifo "$out.fifo" && exec 3<>"$out.fifo" 4>"$out.fifo" 3<&- && exec "$@" >&4 4>&- ;;
  *) exec "$@" >"$out" ;;
esac
