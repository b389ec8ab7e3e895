#!/usr/bin/env bash
# Installs the Debian packages kvq builds, runs and tests with, if any is
# missing. Runs apt-get update once, only when something must be installed.
set -euo pipefail

packages=(
  make cmake g++ clang lld libgtest-dev   # host build and unit tests; EFI cross build
  qemu-system-x86 ovmf ovmf-ia32          # the Q35 board and its firmware, x64 and IA-32
  python3 python3-pyte                    # end-to-end tests read the serial screen
  pci.ids                                 # source of the PCI name tables
  libbenchmark-dev                        # make bench: pass times on the simulated board
  pciutils mtools dosfstools              # lspci reads kvq's dumps; a real FAT disk image for the tests
  acpica-tools                            # acpixtract and iasl read kvq's ACPI dump
  cpuid                                   # cpuid -f decodes kvq's CPUID dump
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
