#!/bin/sh
# Regenerates data/pci_names_generated.cpp from the system pci.ids and checks
# it matches the committed copy byte for byte.  Before that, runs the
# generator on a small hand-made pci.ids to check it never emits non-ASCII or
# an unescaped C string.  With a pci_names_dump program as argument, also
# checks that every block of the packed list of other vendors unpacks to
# exactly the names the generator packed.
#
# Usage: pci_names_reproducible.sh [PCI_NAMES_DUMP]
#
# Exit status: 0 identical, 1 different or generator fault, 77 skipped (no
# /usr/share/misc/pci.ids, or a release other than the one the committed file
# was generated from).
set -u

here=$(cd "$(dirname "$0")/../.." && pwd)
gen="$here/tools/gen_pci_names.py"
committed="$here/data/pci_names_generated.cpp"
pci_ids=/usr/share/misc/pci.ids
python=/usr/bin/python3
dump=${1:-}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# --- Generator on awkward input ------------------------------------------
# Device lines out of order, a subsystem line, a tab inside a name, trailing
# blanks, UTF-8 letters, C-string metacharacters, and a class list at the end
# whose indented lines must not be read as devices.
printf '#\tVersion: 0000.00.00\n' >"$tmp/in.ids"
printf '8086  Intel Corporation\n' >>"$tmp/in.ids"
printf '\t0002  Zeta "q" \\ x??=y  \n' >>"$tmp/in.ids"
printf '\t\t1234 5678  Subsystem must not appear\n' >>"$tmp/in.ids"
printf '\t0001  Tab\there f\303\274r X\302\262 Stra\303\237e \342\200\223 \344\270\255\n' >>"$tmp/in.ids"
printf '10ec  Realtek\n\t8139  RTL-8100\n' >>"$tmp/in.ids"
printf '1002  AMD\n\t0001  A\n' >>"$tmp/in.ids"
printf '10de  NVIDIA\n\t0008  NV1 [STG2000X-B Series]\n' >>"$tmp/in.ids"
printf '1b21  ASMedia \303\274\n\t0612  ASM1062 "SATA"\n' >>"$tmp/in.ids"
printf 'C 03  Display controller\n\t0001  Not a device\n' >>"$tmp/in.ids"

if ! "$python" "$gen" "$tmp/in.ids" "$tmp/out.cpp"; then
  echo "generator failed on the hand-made pci.ids"
  exit 1
fi
fail=0
expect() {
  if ! grep -qF -- "$1" "$tmp/out.cpp"; then
    echo "missing from generated output: $1"
    fail=1
  fi
}
expect 'Source: pci.ids Version: 0000.00.00'
expect '"Intel Tab here fur X2 Strasse - ?"'
expect '"Intel Zeta \"q\" \\ x?\?=y"'
expect '"Realtek RTL-8100"'
expect '"AMD A"'
expect '"Nvidia NV1 [EDGE 3D]"'
expect 'ASMedia u'
expect 'ASM1062 \"SATA\"'
if grep -q 'Subsystem must not appear\|Not a device' "$tmp/out.cpp"; then
  echo "subsystem or class lines were read as devices"
  fail=1
fi
if LC_ALL=C grep -q '[^[:print:]]' "$tmp/out.cpp"; then
  echo "generated output holds non-printable or non-ASCII bytes"
  fail=1
fi
# 8086:0001 must come before 8086:0002 although pci.ids lists them reversed.
order=$(grep -o '0x000[12]8086u' "$tmp/out.cpp" | tr '\n' ' ')
if [ "$order" != "0x00018086u 0x00028086u " ]; then
  echo "Intel records not in ascending device order: $order"
  fail=1
fi
[ "$fail" -eq 0 ] || exit 1

# --- Committed table against the system pci.ids ---------------------------
if [ ! -r "$pci_ids" ]; then
  echo "skipped: $pci_ids not found (install the pci.ids package)"
  exit 77
fi
want=$(sed -n 's/^\/\/ Source: pci.ids Version: //p' "$committed")
have=$(sed -n 's/^#[[:space:]]*Version:[[:space:]]*//p' "$pci_ids" | head -n 1)
if [ "$want" != "$have" ]; then
  echo "skipped: $pci_ids is version '$have'; the committed table came from '$want'"
  exit 77
fi
if ! "$python" "$gen" "$pci_ids" "$tmp/regen.cpp"; then
  echo "generator failed on $pci_ids"
  exit 1
fi
if ! diff -u "$committed" "$tmp/regen.cpp" >"$tmp/diff"; then
  echo "data/pci_names_generated.cpp differs from a fresh generation:"
  head -n 40 "$tmp/diff"
  exit 1
fi
echo "data/pci_names_generated.cpp matches $pci_ids ($have)"

if [ -n "$dump" ]; then
  "$python" "$gen" --list "$pci_ids" >"$tmp/want.txt" || exit 1
  "$dump" >"$tmp/got.txt" || exit 1
  if ! diff -u "$tmp/want.txt" "$tmp/got.txt" >"$tmp/diff"; then
    echo "the packed names do not unpack to what was packed:"
    head -n 40 "$tmp/diff"
    exit 1
  fi
  echo "all $(wc -l <"$tmp/got.txt") packed names unpack as packed"
fi
exit 0
