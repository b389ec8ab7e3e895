#!/usr/bin/python3
"""IA-32: the same program on the 32-bit OVMF, booted as BOOTIA32.EFI: the
start frame, the e1000e's MAC and PCI Express line, the PCI list, S to its
memory-mapped configuration space with a byte written there, p and P on
the Memory page (eight digits at most on IA-32), the menu, the
HDD page with a 1000 GB disk of our own on port 1 (its size from the 48-bit
count, read as two 32-bit loads), the ACPI page listing the firmware's
tables with every check holding, and Esc ending kvq."""

import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import E1000E_MAC, Kvq, report, wait_row  # noqa: E402
from test_x64_hdd import second_disk_args, sparse_disk  # noqa: E402


def test_ia32_subset():
    folder = tempfile.mkdtemp(prefix='kvq-ia32-')
    try:
        run_subset(sparse_disk(folder, 1953525168))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run_subset(disk):
    with Kvq('ia32', extra=second_disk_args(disk, 'KVQ IA32 DISK')) as m:
        m.start_kvq()
        assert m.row(2).startswith('00 86 80 C0 29'), m.row(2)
        assert m.row(18).startswith('Intel 82G33/G31/P35/P31 Express DRAM Controller'), m.row(18)
        idle = m.idle_bytes(5)
        report('ia32 idle bytes in 5 s on the PCIE page', idle)
        assert idle == 0, idle

        m.keys('F5')
        m.wait_for(lambda mm: 'DEVICE : 001/007' in mm.row(27), 20)
        wait_row(m, 3, r'^000 004 000 10D38086 Intel 82574L Gigabit Network Connection')
        assert m.row(2).rstrip() == '000 001 000 11111234 QEMU Standard VGA', m.row(2)
        m.keys('Down', 'Down', 'Enter')
        wait_row(m, 0, r'^Bus:00 Dev:04 Fun:00 +MAC: ' + E1000E_MAC)
        wait_row(m, 12, r'PCI Express : YES')

        m.keys('S')
        wait_row(m, 0, r'^Memory Address: B0020000')
        m.wait_quiet(0.5)
        assert m.grid_row(0x00).startswith('86 80 D3 10'), m.grid_row(0x00)
        m.to_offset(0x3C)
        wait_row(m, 19, r'0xB002003C ->')
        m.keys('Enter', '6', '6', 'S')
        wait_row(m, 13, r'PCI IRQ#    : 66')
        # p as on x64; P takes at most eight digits on a 32-bit image.
        m.keys('S', 'p', '0', '0', '0', 'F', '0', '0', '0', '0')
        wait_row(m, 0, r'^Memory Address: 000F0000 [A-Za-z]* *$')
        m.keys('P', '1', '2', '3', '4', 'A', 'B', 'C', 'D')
        wait_row(m, 0, r'^Memory Address: 1234ABCD RAM *$')
        m.keys('S')
        wait_row(m, 0, r'^Bus:00 Dev:04 Fun:00')

        m.keys('F6')
        wait_row(m, 0, r'^ DEVICES    OTHER ')
        m.keys('F7', 'Right')
        wait_row(m, 1, r'^ {11} HELP      ')
        m.keys('Down', 'Down', 'Enter')
        wait_row(m, 0, r'^HDD Port 0 Address: [0-9A-F]{8}')
        wait_row(m, 18, r'^Model Name: QEMU HARDDISK ')
        m.keys('PageDown')
        # Through the firmware's ATA pass-thru, its packet laid out for IA-32.
        wait_row(m, 18, r'^Model Name: KVQ IA32 DISK +Size: 1000G +ATA Pass Thru *$')
        m.keys('F6', 'Down', 'Down', 'Enter')
        wait_row(m, 1, r'^RSDP [0-9A-F]{16}  00000024  02 .* ok')
        rows = [m.row(r) for r in range(1, 21) if m.row(r).strip()]
        assert {'FACP', 'DSDT', 'FACS', 'MCFG'} <= {r[:4] for r in rows} and all(
            r[56:].split()[0] in ('ok', 'none') for r in rows), rows
        m.keys('Esc')
        # The firmware takes the console back when kvq returns.
        m.wait_for(lambda mm: 'KVQ 1.0.9' not in mm.row(24) and 'HELP' not in mm.row(1), 30)


if __name__ == '__main__':
    harness.main(test_ia32_subset)
