# shellcheck shell=bash
# The boxes' guests: their kernels, modules and static busybox, from Debian's packages,
# and the router's dynamic busybox, built from Debian's source, kept once for the
# machine, and how the host waits on what a guest says; sourced by the
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

# boxshell NAME TOOLCHAIN: sets shell to the busybox that the cache (as boxstore's) keeps
# in NAME-shell for the box's benchmark: a router's own shell, which OpenWrt links
# dynamically against the same musl as its packages, where busybox-static's starts without
# the loader's work. Built from Debian's busybox source with TOOLCHAIN (one that
# cmake/sysroot made), PIE, with ash and the applets the box's CGI programs and init use;
# 39 s on a quiet two-core machine, once for the machine, in a directory of its own
# renamed into place, as boxstore does, with the source's version and the build's seconds
# beside it. Fails saying why on its last line of standard error.
boxshell() {
  local name=$1 toolchain=$2 shared new tool started status=0
  shared=${CLIENTMAC_BOX_CACHE:-/var/cache/clientmac/box}
  mkdir -p "$shared" 2>/dev/null && [ -w "$shared" ] || shared=${XDG_CACHE_HOME:-$HOME/.cache}/clientmac/box
  shell=$shared/$name-shell/busybox
  [ -x "$shell" ] && [ "$(cat "$shared/$name-shell/settings" 2>/dev/null)" = "${bs_settings[*]}" ] &&
    return
  [ -x "$toolchain/bin/${toolchain##*/}-gcc" ] || {
    echo "no toolchain in $toolchain to build busybox with" >&2 && return 1
  }
  for tool in dpkg-source make gcc; do
    command -v $tool >/dev/null || { echo "no $tool to build busybox with" >&2 && return 1; }
  done
  if ! new=$(mkdir -p "$shared" && mktemp -d "$shared/new.XXXXXX"); then
    echo "cannot write to the cache $shared" >&2 && return 1
  fi
  started=$SECONDS
  bs_build "$new" "$toolchain" >"$new/log" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    tail -n 20 "$new/log" >&2
    echo "cannot build busybox for the box's shell: $(tail -n 1 "$new/log")" >&2
  else
    echo "$((SECONDS - started))" >"$new/shell/seconds"
    # Another tree's box may have stored one first; one built otherwise goes.
    if ! mv -T "$new/shell" "$shared/$name-shell" 2>/dev/null &&
      [ "$(cat "$shared/$name-shell/settings" 2>/dev/null)" != "${bs_settings[*]}" ] &&
      ! { mv -T "$shared/$name-shell" "$new/old" && mv -T "$new/shell" "$shared/$name-shell"; }; then
      echo "cannot store busybox in $shared/$name-shell" >&2
      status=1
    fi
  fi
  rm -rf "$new"
  return $status
}

# bs_settings: the busybox settings boxshell's build turns on, every other one off, as a
# firmware's busybox is cut down to what the firmware uses; a store made with others is
# built again.
bs_settings=(PIE LFS LONG_OPTS BUSYBOX FEATURE_INSTALLER SH_IS_ASH BASH_IS_NONE
  ASH ASH_OPTIMIZE_FOR_SIZE ASH_BASH_COMPAT ASH_JOB_CONTROL ASH_ALIAS ASH_GETOPTS
  ASH_CMDCMD ASH_ECHO ASH_PRINTF ASH_TEST FEATURE_SH_MATH FEATURE_EDITING
  BASENAME CAT CHMOD CP CUT DATE DD DIRNAME ECHO ENV EXPR FALSE HEAD LN LS MKDIR MV
  PRINTF RM SLEEP SORT SYNC TAIL TEST TOUCH TR TRUE UNAME WC AWK GREP SED KILL PS
  TIMEOUT MOUNT UMOUNT INSMOD REBOOT IP FEATURE_IP_ADDRESS FEATURE_IP_LINK
  FEATURE_IP_ROUTE FEATURE_IP_NEIGH HTTPD FEATURE_HTTPD_CGI)

# bs_build DIR TOOLCHAIN: boxshell's download and build in DIR, the result in DIR/shell.
bs_build() (
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  settings=("${bs_settings[@]}")
  names=$(printf '%s\n' "${settings[@]}" | paste -sd'|')
  bash "$here/../../cmake/aptsource" "$1" busybox &&
    dpkg-source --no-check -x "$1"/busybox_*.dsc "$1/src" &&
    cd "$1/src" && make allnoconfig &&
    grep -v -E "^(# )?CONFIG_($names)[= ]" .config >.config.new &&
    printf 'CONFIG_%s=y\n' "${settings[@]}" >>.config.new && mv .config.new .config &&
    make oldconfig < <(yes "") || exit
  # oldconfig drops what it cannot have: a setting gone is a build unlike the one asked for.
  for setting in "${settings[@]}"; do
    grep -q "^CONFIG_$setting=y" .config || { echo "busybox's configuration lacks $setting" && exit 1; }
  done
  make -j"$(nproc)" CROSS_COMPILE="$2/bin/${2##*/}-" busybox && mkdir "$1/shell" &&
    cp busybox "$1/shell/" && cp .config "$1/shell/config" &&
    echo "${settings[*]}" >"$1/shell/settings" &&
    basename "$1"/busybox_*.dsc .dsc | sed 's/^busybox_//' >"$1/shell/version"
)
