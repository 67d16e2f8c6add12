#!/usr/bin/env bash
# Checks a macOS build of morvane.node from any machine with the LLVM tools
# (Debian: package llvm, or a versioned llvm-NN): it must be an arm64 Mach-O
# bundle for macOS 12.0 or later that exports exactly the two Node-API
# registration functions, loads exactly AppKit, Foundation, CoreFoundation,
# libobjc and libSystem, and leaves every napi_* function to the host.
#
# Usage: scripts/check-morvane-macho.sh path/to/morvane.node
# A universal file is checked slice by slice: it must hold arm64 and x86_64.
# LLVM_OBJDUMP, LLVM_NM and LLVM_LIPO may name the tools if they are not on
# the PATH.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 path/to/morvane.node" >&2
  exit 2
fi
module=$1
if [[ ! -f $module ]]; then
  echo "error: $module: no such file" >&2
  exit 2
fi

find_tool() {
  local name=$1 version
  if command -v "$name" >/dev/null 2>&1; then
    command -v "$name"
    return
  fi
  for version in 20 19 18 17 16 15 14; do
    if command -v "$name-$version" >/dev/null 2>&1; then
      command -v "$name-$version"
      return
    fi
  done
  echo "error: $name not found; install Debian's llvm package" >&2
  exit 2
}
objdump=${LLVM_OBJDUMP:-$(find_tool llvm-objdump)}
nm=${LLVM_NM:-$(find_tool llvm-nm)}
lipo=${LLVM_LIPO:-$(find_tool llvm-lipo)}

archs=$("$lipo" -archs "$module" 2>/dev/null || true)
if [[ $(wc -w <<<"$archs") -gt 1 ]]; then
  if [[ $(xargs -n1 <<<"$archs" | sort | xargs) != "arm64 x86_64" ]]; then
    echo "FAIL: universal file with slices '$archs', expected arm64 and x86_64"
    exit 1
  fi
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  status=0
  for arch in $archs; do
    "$lipo" -thin "$arch" "$module" -output "$scratch/$arch.node"
    echo "== slice $arch"
    MORVANE_EXPECT_ARCH=$arch "$0" "$scratch/$arch.node" || status=1
  done
  exit $status
fi
expected_arch=${MORVANE_EXPECT_ARCH:-arm64}
case $expected_arch in
  arm64) cpu=ARM64 ;;
  x86_64) cpu=X86_64 ;;
  *) echo "error: unknown architecture $expected_arch" >&2; exit 2 ;;
esac

failures=0
pass() { echo "ok: $*"; }
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Compares two newline-separated lists, whatever their order.
same_set() { [[ $(sort <<<"$1") == "$(sort <<<"$2")" ]]; }

header=$("$objdump" --macho --private-header "$module" 2>&1 || true)
# One Mach header only: a universal file would list one per architecture.
if [[ $(grep -c '^ *MH_MAGIC' <<<"$header") -eq 1 ]] &&
  grep -Eq "^ *MH_MAGIC_64 +$cpu .* BUNDLE " <<<"$header"; then
  pass "Mach-O $expected_arch bundle"
else
  fail "not a single-architecture Mach-O $expected_arch bundle:"$'\n'"${header:-no Mach-O header}"
  echo "$module: not checked further"
  exit 1
fi

commands=$("$objdump" --macho --private-headers "$module")

# The minimum OS is in LC_BUILD_VERSION (minos) or, for old tools,
# LC_VERSION_MIN_MACOSX (version).
minimum=$(awk '
  /cmd LC_BUILD_VERSION/ { build = 1; next }
  /cmd LC_VERSION_MIN_MACOSX/ { legacy = 1; next }
  /cmd / { build = 0; legacy = 0 }
  build && $1 == "platform" && $2 != "macos" { print "platform " $2; exit }
  build && $1 == "minos" { print $2; exit }
  legacy && $1 == "version" { print $2; exit }
' <<<"$commands")
if [[ $minimum == 12.0 ]]; then
  pass "minimum macOS 12.0"
else
  fail "minimum OS is '${minimum:-missing}', expected 12.0"
fi

# Every command that makes dyld load a library, with the library's path.
libraries=$(awk '
  /cmd LC_(LOAD|LOAD_WEAK|REEXPORT|LAZY_LOAD|LOAD_UPWARD)_DYLIB$/ { dylib = 1; next }
  /cmd / { dylib = 0 }
  dylib && $1 == "name" { print $2; dylib = 0 }
' <<<"$commands")
expected_libraries=$(printf '%s\n' \
  /System/Library/Frameworks/AppKit.framework/Versions/C/AppKit \
  /System/Library/Frameworks/Foundation.framework/Versions/C/Foundation \
  /System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation \
  /usr/lib/libobjc.A.dylib \
  /usr/lib/libSystem.B.dylib)
if same_set "$libraries" "$expected_libraries"; then
  pass "loads exactly AppKit, Foundation, CoreFoundation, libobjc, libSystem"
else
  fail "libraries loaded:"$'\n'"$libraries"$'\n'"expected:"$'\n'"$expected_libraries"
fi

expected_exports=$(printf '%s\n' _napi_register_module_v1 _node_api_module_get_api_version_v1)
symbols=$("$nm" --extern-only --defined-only --just-symbol-name "$module")
trie=$("$objdump" --macho --exports-trie "$module" | awk '/^0x/ { print $2 }')
if same_set "$symbols" "$expected_exports" && same_set "$trie" "$expected_exports"; then
  pass "exports exactly _napi_register_module_v1 and _node_api_module_get_api_version_v1"
else
  fail "external symbols:"$'\n'"$symbols"$'\n'"export trie:"$'\n'"$trie"
fi

# Stripped: the symbol table holds the exports and the imports, no local
# symbol and no debug note.
locals=$("$nm" --defined-only --just-symbol-name "$module" | grep -v -x -F "$expected_exports" || true)
stabs=$("$nm" --debug-syms "$module" | grep -c ' - ' || true)
if [[ -z $locals && $stabs -eq 0 ]]; then
  pass "stripped: no local symbols or debug notes"
else
  fail "not stripped: $(wc -l <<<"$locals") other defined symbol(s), $stabs debug note(s)"
fi

# The Node-API functions come from the host process: each must be bound by
# a flat-namespace lookup, never to one of the libraries above.
binds=$("$objdump" --macho --bind --lazy-bind --weak-bind "$module")
napi=$(awk '$NF ~ /^_napi_/' <<<"$binds")
elsewhere=$(awk '$NF ~ /^_napi_/ && $(NF - 1) != "flat-namespace"' <<<"$napi")
if [[ -n $napi && -z $elsewhere ]]; then
  pass "napi_* functions left to the host ($(wc -l <<<"$napi") bound by flat lookup)"
else
  fail "napi_* bindings:"$'\n'"${napi:-none}"
fi

if ((failures > 0)); then
  echo "$module: $failures check(s) failed"
  exit 1
fi
echo "$module: all checks passed"
