#!/bin/bash
# Builds the OpenWrt package in OpenWrt's own machinery, as a user of the SDK at
# OPENWRT_SDK does (OpenWrt's SDK, unpacked; the suite brings none), in a scratch copy of
# that SDK: the feed by src-link to packaging/openwrt of a clean copy of this tree, then
# feeds update and install, make defconfig, make package/clientmac/compile.
# The package, an .ipk (OpenWrt 24.10, opkg's) or an .apk (25.12, apk-tools v3's, read with
# the SDK's own apk), is then held to what the firmware of the SDK's target needs: its
# fields, its files, the loader, libraries, float ABI and budget that tests/lib/firmware.sh
# lists, its size after OpenWrt's strip, and what was compiled; an edit is rebuilt; and the
# program, installed with the SDK's libc package into one root as the router's package
# manager would, runs the fixture cases under qemu-user. The feed's second package,
# clientmac-cgi, holds the link alone and depends on the program. Last, the other kinds of
# feed: src-git of the whole repository scans, src-cpy stops with a clear error.
# Environment: OPENWRT_SDK (without it the test is skipped).
# Usage: openwrt-sdk.sh SOURCEDIR

. "$(dirname "$0")/lib/host.sh"
. "$testdir/lib/firmware.sh"
sdk=${OPENWRT_SDK:-}
[ -n "$sdk" ] || skip "OPENWRT_SDK names no OpenWrt SDK to build the package in"
[ -f "$sdk/rules.mk" ] || die "OPENWRT_SDK=$sdk is no OpenWrt SDK: it has no rules.mk at its top"
for tool in make readelf od tar git python3; do
  command -v $tool >/dev/null || skip "$tool is not installed"
done
source=$1
version=$(sed -n 's/^project(clientmac VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")

# The feed is a copy of the tree, so that an edit can be made to it; the SDK is a copy too,
# so that the user's steps start from the SDK as it was shipped.
tree=$scratch/clientmac
clean_copy "$source" "$tree" || die "cannot copy $source"
work=$scratch/sdk
cp -a "$sdk" "$work" || die "cannot copy $sdk"
logs=$scratch/logs
mkdir "$logs"
echo "SDK: $sdk (scratch copy: $work)"

# run LOG COMMAND...: one of the user's steps in the scratch SDK, its output in LOG; sets
# status, and prints how long the step took.
run() {
  local log=$logs/$1.log start=$SECONDS
  shift
  (cd "$work" && "$@") >"$log" 2>&1
  status=$?
  echo "$*: $((SECONDS - start)) s"
}
# The scan's error for feed FEED, where the scan of its Makefile failed.
scanerror() {
  cat "$work/logs/feeds/$1/clientmac/dump.txt" 2>/dev/null | head -n 3
}
# What the compile step LOG compiled, as the CMake build names each object.
compiled() {
  grep -oE 'Building (C|CXX) object [^ ]+' "$logs/$1.log" | sed 's/.* object //' | tr '\n' ' '
}
program="CMakeFiles/clientmac.dir/src/clientmac.cpp.o "

# The user's steps, each in OpenWrt's own make machinery: the package is scanned, selected
# by defconfig (as a module: built, not put into the image), and built.
{ cat "$work/feeds.conf.default" 2>/dev/null
  echo "src-link clientmac $tree/packaging/openwrt"; } >"$work/feeds.conf"
run update ./scripts/feeds update clientmac
judge "feeds update clientmac" status "$status" 0 "scan error" "$(scanerror clientmac)" ""
run install ./scripts/feeds install clientmac
judge "feeds install clientmac" status "$status" 0 \
  linked "$([ -L "$work/package/feeds/clientmac/clientmac" ] && echo yes)" yes
run defconfig make defconfig
judge "make defconfig selects it" status "$status" 0 \
  selected "$(grep '^CONFIG_PACKAGE_clientmac=' "$work/.config")" CONFIG_PACKAGE_clientmac=m
run compile make package/clientmac/compile V=s
judge "make package/clientmac/compile" status "$status" 0
package=$(find "$work/bin" -name "clientmac_*.ipk" -o -name "clientmac-[0-9]*.apk" 2>/dev/null | head -n 1)
if [ "$status" -ne 0 ] || [ -z "$package" ]; then
  tail -n 20 "$logs/compile.log"
  judge "a clientmac .ipk or .apk is made" package "${package:+yes}" yes
  echo "the whole test: $SECONDS s"
  finish
  exit
fi
echo "package: ${package#"$work"/}"
kind=${package##*.}
apk=$work/staging_dir/host/bin/apk

# What the SDK builds for, as its .config says.
config() {
  sed -n "s/^CONFIG_$1=\"\(.*\)\"/\1/p" "$work/.config"
}
arch=$(config ARCH) packagearch=$(config TARGET_ARCH_PACKAGES) libc=$(config LIBC)
echo "target: $arch ($packagearch), $libc"

# unpack PACKAGE DIR: PACKAGE's control file in DIR, its files in DIR/data. An .ipk is a
# gzipped tar of control.tar.gz and data.tar.gz. An .apk is apk's own ADB format: its info,
# as apk dumps it, is written as a control file's lines.
unpack() {
  mkdir -p "$2/data"
  case $kind in
    ipk)
      tar -xzf "$1" -O ./control.tar.gz | tar -xzf - -C "$2" ./control &&
        tar -xzf "$1" -O ./data.tar.gz | tar -xzf - -C "$2/data" ;;
    apk)
      "$apk" adbdump --format json "$1" | python3 -c 'import json, sys
for name, value in json.load(sys.stdin)["info"].items():
    print(name + ": " + (" ".join(value) if isinstance(value, list) else str(value)))' \
        >"$2/control" &&
        "$apk" extract --allow-untrusted --destination "$2/data" "$1" >/dev/null ;;
  esac || die "cannot unpack $1"
}
# field IPK APK [DIR]: the field an .ipk's control file names IPK, and an .apk's info APK,
# of the package unpacked in DIR (the program's by default).
field() {
  local name=$1
  [ "$kind" = apk ] && name=$2
  sed -n "s/^$name: //p" "${3:-$unpacked}/control"
}
# files DIR: the files of the package unpacked in DIR, a link followed by its target.
files() {
  (cd "$1/data" && find . ! -type d -printf '%p%l\n' | sort | tr '\n' ' ')
}
unpacked=$scratch/package
unpack "$package" "$unpacked"
# The package must verify without a signature, which OpenWrt gives only the index.
if [ "$kind" = apk ]; then
  "$apk" verify --allow-untrusted "$package" >"$logs/verify.log" 2>&1
  judge "apk verify --allow-untrusted" status $? 0
fi

# The package's fields: CMakeLists.txt's version in OpenWrt's form, the C library its only
# dependency, the licence, and the SDK's package architecture.
judge "field: Package"      Package      "$(field Package name)"         clientmac
judge "field: Version"      Version      "$(field Version version)"      "$version-r1"
judge "field: Depends"      Depends      "$(field Depends depends)"      libc
judge "field: License"      License      "$(field License license)"      MIT
judge "field: Architecture" Architecture "$(field Architecture arch)"    "$packagearch"

# The package holds the program alone (and, from apk, its own list of files), linked as the
# firmware's root has its C library, and fits the router's flash as OpenWrt strips it
# (sstrip drops even the section headers).
binary=$unpacked/data/usr/bin/clientmac
listed=""
[ "$kind" = apk ] && listed="./lib/apk/packages/clientmac.list "
judge "holds exactly ${listed:+its list and }/usr/bin/clientmac" files "$(files "$unpacked")" \
  "$listed./usr/bin/clientmac "
if firmware "$libc" "$arch" && [ -f "$binary" ]; then
  holdelf readelf "$binary" OFF "$budget"
else
  judge "a firmware that tests/lib/firmware.sh knows" firmware "$libc/$arch" "a known one"
fi

# The build compiles the program alone: the suite's directory, which says which C library
# it tests, is not even configured.
judge "only src/clientmac.cpp compiled" compiled "$(compiled compile)" "$program" \
  "tests/ configured" "$(grep -c -- '-- C library: ' "$logs/compile.log")" 0

# An edit to the source is compiled again, and nothing is while nothing changed.
run again make package/clientmac/compile V=s
judge "unchanged: nothing compiled" status "$status" 0 compiled "$(compiled again)" ""
printf '// An edit that the package build must see.\n' >>"$tree/src/clientmac.cpp"
run edited make package/clientmac/compile V=s
judge "edited: compiled again" status "$status" 0 compiled "$(compiled edited)" "$program"

# The program runs from a root that holds its package and the SDK's libc package, as the
# router's package manager installs them: the fixture cases, under qemu-user. opkg's are
# unpacked; apk adds them from the index that the SDK signs with its own key, which apk
# must trust, without the packages' scripts, which are the router's to run.
root=$scratch/root
mkdir "$root"
if [ "$kind" = ipk ]; then
  libcpackage=$(find "$work/bin" -name "libc_*.ipk" | head -n 1)
  for unpack in "$package" $libcpackage; do
    tar -xzf "$unpack" -O ./data.tar.gz | tar -xzf - -C "$root" || die "cannot unpack $unpack"
  done
else
  run index make package/index
  mkdir "$scratch/keys" && cp "$work/public-key.pem" "$scratch/keys/"
  mapfile -t indexes < <(find "$work/bin" -name packages.adb)
  run add "$apk" add --root "$root" --initdb --no-scripts --no-cache --arch "$packagearch" \
    --keys-dir "$scratch/keys" "${indexes[@]/#/--repository=}" clientmac
  judge "apk add from the signed index" status "$status" 0
  libcpackage=$(find "$root/lib" -name libc.so 2>/dev/null)
fi
if [ -z "$libcpackage" ]; then
  judge "the SDK's libc package" libc "none" "the SDK's libc, installed"
elif ! command -v "qemu-$arch-static" >/dev/null; then
  echo "SKIPPED fixture cases: qemu-$arch-static (qemu-user-static) is not installed"
else
  start=$SECONDS
  CLIENTMAC=$root/usr/bin/clientmac CLIENTMAC_EMULATOR="qemu-$arch-static -L $root" \
    bash "$testdir/fixtures.sh" >"$logs/fixtures.log" 2>&1
  status=$?
  echo "fixture cases under qemu-user: $(tail -n 1 "$logs/fixtures.log"), $((SECONDS - start)) s"
  if [ "$status" -eq 77 ]; then
    echo "SKIPPED fixture cases: $(sed -n 's/^SKIPPED: //p' "$logs/fixtures.log")"
  else
    [ "$status" -eq 0 ] || grep '^FAIL' "$logs/fixtures.log"
    judge "fixture cases from the packages' root" status "$status" 0
  fi
fi

# The feed's second package serves the program by its CGI name: the link alone, for every
# target (opkg's "all", apk's "noarch"), depending on the program, so that choosing the
# endpoint brings the program, and installing the program serves nothing.
run cgiinstall ./scripts/feeds install clientmac-cgi
run cgicompile make package/clientmac-cgi/compile V=s
judge "make package/clientmac-cgi/compile" status "$status" 0
cgipackage=$(find "$work/bin" -name "clientmac-cgi_*.ipk" -o -name "clientmac-cgi-*.apk" |
  head -n 1)
cgi=$scratch/cgi
if [ -n "$cgipackage" ]; then
  unpack "$cgipackage" "$cgi"
  case $kind in
    ipk) depends="libc, clientmac" anyarch=all cgilisted="" ;;
    apk) depends="clientmac libc" anyarch=noarch cgilisted="./lib/apk/packages/clientmac-cgi.list " ;;
  esac
  judge "clientmac-cgi: its fields" Package "$(field Package name "$cgi")" clientmac-cgi \
    Version "$(field Version version "$cgi")" "$version-r1" \
    Depends "$(field Depends depends "$cgi")" "$depends" \
    Architecture "$(field Architecture arch "$cgi")" "$anyarch"
  judge "clientmac-cgi: holds the link alone" files "$(files "$cgi")" \
    "$cgilisted./www/cgi-bin/clientmac.cgi/usr/bin/clientmac "
else
  judge "a clientmac-cgi package is made" package "" yes
fi

# The other kinds of feed: src-git of the whole repository finds the source beside the
# package; src-cpy copies the package alone, and the scan stops, naming the feeds that work.
git -C "$tree" init -q && git -C "$tree" add -A &&
  git -C "$tree" -c user.name=test -c user.email=test@example.org commit -qm tree ||
  die "cannot make a repository of the copy"
echo "src-git clientmacgit file://$tree" >"$work/feeds.conf"
run git ./scripts/feeds update clientmacgit
judge "src-git feed of the repository" status "$status" 0 \
  "scan error" "$(scanerror clientmacgit)" "" \
  version "$(sed -n '/^Package: clientmac$/,/^@@$/s/^Version: //p' "$work/feeds/clientmacgit.index")" \
  "$version-r1"
echo "src-cpy openwrt $tree/packaging/openwrt" >"$work/feeds.conf"
run cpy ./scripts/feeds update openwrt
error=$(scanerror openwrt)
echo "src-cpy: $error"
judge "src-cpy feed: an error naming src-link and src-git" \
  names "$([[ $error == *src-link*src-git* ]] && echo yes)" yes
echo "the whole test: $SECONDS s"
finish
