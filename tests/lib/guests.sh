# shellcheck shell=bash
# The boxes' guests: their kernels, modules and static busybox, from Debian's packages,
# kept once for the machine, and how the host waits on what a guest says; sourced by the
# boxes' runners (box.sh, vm.sh) after host.sh, whose atexit, skip and die it uses. In
# bash.

# modulefile DIR NAME: the .ko file below DIR of the module NAME, which the kernel spells
# with - and _ alike.
modulefile() {
  find "$1" -name "$(printf %s "$2" | sed 's/[-_]/[-_]/g').ko" -print -quit
}

# moduleorder DIR MODULE...: the MODULEs and all they depend on (each .ko's depends= in
# its .modinfo, as the packages hold no modules.dep), each once and after what it needs,
# so that insmod can load them in that order; fails naming one that DIR lacks.
moduleorder() {
  mo_dir=$1 mo_seen=" "
  shift
  for mo_module; do
    mo_visit "$mo_module" || return
  done
}
# mo_visit NAME: moduleorder's walk from one module.
mo_visit() {
  local file name dep
  file=$(modulefile "$mo_dir" "$1")
  [ -n "$file" ] || { echo "no $1.ko in $mo_dir" >&2 && return 1; }
  name=$(basename "$file" .ko)
  case $mo_seen in *" $name "*) return 0 ;; esac
  mo_seen="$mo_seen$name "
  for dep in $(tr '\0' '\n' <"$file" | sed -n 's/^depends=//p' | tr , ' '); do
    mo_visit "$dep" || return
  done
  echo "$name"
}

# boxstore NAME ARCH KERNEL MODULES [OPTIONAL]: sets store to the machine's directory
# NAME of the cache (CLIENTMAC_BOX_CACHE, by default /var/cache/clientmac/box, else
# ~/.cache/clientmac/box) that holds kernel (the name of the package that Debian's ARCH
# package KERNEL depends on), its vmlinuz, busybox-static's busybox, and the .ko files of
# the words of MODULES, of those of OPTIONAL that the package has, and of all they need. The first box on the machine downloads and
# unpacks them, makes them whole in a directory of its own and renames it into place, so
# that a box another build tree starts meanwhile finds all of them or none.
boxstore() {
  local name=$1 arch=$2 kernel=$3 modules=$4 optional=${5:-} shared kernelpackage order module
  shared=${CLIENTMAC_BOX_CACHE:-/var/cache/clientmac/box}
  mkdir -p "$shared" 2>/dev/null && [ -w "$shared" ] || shared=${XDG_CACHE_HOME:-$HOME/.cache}/clientmac/box
  mkdir -p "$shared" || die "cannot make the cache $shared"
  store=$shared/$name
  boxstored "$modules" && return
  new=$(mktemp -d "$shared/new.XXXXXX") || die "cannot write to the cache $shared"
  atexit 'rm -rf "$new"'
  kernelpackage=$(apt-cache depends "$kernel:$arch" 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  [ -n "$kernelpackage" ] ||
    skip "Debian's $arch packages are not known here (dpkg --add-architecture $arch; apt-get update)"
  (cd "$new" && apt-get download "$kernelpackage" "busybox-static:$arch" >/dev/null 2>&1) ||
    skip "cannot download $kernelpackage and busybox-static:$arch"
  mkdir "$new/store" && echo "$kernelpackage" >"$new/store/kernel" &&
    dpkg-deb -x "$new"/linux-image-*.deb "$new/unpacked" &&
    dpkg-deb -x "$new"/busybox-static_*.deb "$new/unpacked" &&
    cp "$new"/unpacked/boot/vmlinuz-* "$new/store/vmlinuz" &&
    cp "$new/unpacked/bin/busybox" "$new/store/" || die "cannot unpack the packages"
  for module in $optional; do
    [ -n "$(modulefile "$new/unpacked/lib/modules" "$module")" ] && modules="$modules $module"
  done
  # shellcheck disable=SC2086 # one word a module
  order=$(moduleorder "$new/unpacked/lib/modules" $modules) || die "$kernelpackage lacks a module"
  for module in $order; do
    cp "$(modulefile "$new/unpacked/lib/modules" "$module")" "$new/store/" ||
      die "cannot store $module.ko"
  done
  # Another tree's box may have stored them first; an older store lacking a module goes.
  if ! mv -T "$new/store" "$store" 2>/dev/null && ! boxstored "$4"; then
    mv -T "$store" "$new/old" && mv -T "$new/store" "$store" || die "cannot store the packages in $store"
  fi
}

# boxstored MODULES: whether the store holds the kernel, busybox, and the modules MODULES
# with all they need.
boxstored() {
  local file
  for file in kernel vmlinuz busybox ${1// /.ko }.ko; do
    [ -e "$store/$file" ] || return
  done
  # shellcheck disable=SC2086 # one word a module
  moduleorder "$store" $1 >/dev/null 2>&1
}

# Seconds since qemu started (started).
elapsed() { awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }

# await TEXT: waits until the guest's output (the file log) says TEXT; at the deadline,
# or when qemu (qemupid) ends first, fails the whole run with that output and the last
# lines of the console (the file console, where the guest writes its output apart).
await() {
  until grep -q "$1" "$log"; do
    if ! kill -0 "$qemupid" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
      tr -d '\r' <"$log"
      [ -z "${console:-}" ] || tail -n 30 "$console" | tr -d '\r'
      die "the guest did not say '$1' (in $(elapsed) s)"
    fi
    sleep 0.2
  done
}
