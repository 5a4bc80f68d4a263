# What every package of the feed takes from the source tree, which is this tree itself,
# three directories above a package's own: make resolves a src-link feed's symlinks, and a
# src-git feed is the whole repository. A package's Makefile includes it after rules.mk.

SOURCE_TREE:=$(abspath $(CURDIR)/../../..)
# A copy of the feed alone (src-cpy) has no source tree around it: say so, at the scan
# already, rather than build with an empty version.
ifneq ($(words $(wildcard $(SOURCE_TREE)/CMakeLists.txt $(SOURCE_TREE)/src/clientmac.cpp)),2)
  $(error clientmac: no source tree at $(SOURCE_TREE), three directories above this package; \
    add the feed with src-link to the checkout's packaging/openwrt, or src-git of the whole \
    repository)
endif

# make counts every "(" inside $(shell ...), quoted or not: CMake's "project(" comes from a
# variable, expanded only after the call is parsed.
clientmac_paren:=(
PKG_VERSION:=$(shell sed -n 's/^project$(clientmac_paren)clientmac VERSION \([0-9.]*\).*/\1/p' \
  $(SOURCE_TREE)/CMakeLists.txt)
PKG_RELEASE:=1

PKG_MAINTAINER:=The clientmac authors <maintainers@users.noreply.c-seed-622484a2.example>
PKG_LICENSE:=MIT
PKG_LICENSE_FILES:=LICENSE
