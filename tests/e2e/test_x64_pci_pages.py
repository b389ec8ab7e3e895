#!/usr/bin/python3
"""x64: the PCIE page steps through the Q35 functions with their names,
panel and MAC lines, writes a typed value to configuration space, and the
PCI list shows every function and opens the chosen one."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import E1000E_MAC, RTL8139_MAC, Kvq, report, wait_row  # noqa: E402

Q35_LIST = [
    '000 000 000 29C08086 Intel 82G33/G31/P35/P31 Express DRAM Controller',
    '000 001 000 11111234 QEMU Standard VGA',
    '000 004 000 10D38086 Intel 82574L Gigabit Network Connection',
    '000 005 000 813910EC Realtek RTL-8100/8101L/8139 PCI Fast Ethernet Adapter',
    '000 031 000 29188086 Intel 82801IB (ICH9) LPC Interface Controller',
    '000 031 002 29228086 Intel 82801IR/IO/IH (ICH9R/DO/DH) 6 port SATA Controller [AHCI mode]',
    '000 031 003 29308086 Intel 82801I (ICH9 Family) SMBus Controller',
]


def test_pcie_page_and_pci_list():
    with Kvq('x64') as m:
        m.start_kvq()

        # PageDown: the VGA function, then the e1000e.
        m.keys('PageDown')
        wait_row(m, 0, r'^Bus:00 Dev:01 Fun:00')
        wait_row(m, 18, r'^QEMU Standard VGA')
        m.keys('PageDown')
        wait_row(m, 0, r'^Bus:00 Dev:04 Fun:00 +MAC: ' + E1000E_MAC)
        wait_row(m, 18, r'^Intel 82574L Gigabit Network Connection')
        wait_row(m, 12, r'PCI Express : YES')
        idle = m.idle_bytes(5)
        report('x64 idle bytes in 5 s on the e1000e PCIE page', idle)
        assert idle == 0, idle

        # One cursor move.
        m.wait_quiet(0.5)
        before = len(m.raw)
        m.keys('Right')
        m.wait_for(lambda mm: mm.row(1).startswith('01 '), 10)
        m.wait_quiet(0.5)
        report('x64 bytes for one cursor move on the PCIE page', len(m.raw) - before)
        m.keys('Left')

        # A value typed into the interrupt line is written on its last digit.
        m.to_offset(0x3C)
        m.wait_for(lambda mm: mm.row(1).startswith('3C '), 10)
        m.keys('Enter', '5', 'A')
        wait_row(m, 13, r'PCI IRQ#    : 5A')
        assert m.grid_row(0x30)[36:38] == '5A', m.grid_row(0x30)

        # The RTL8139: MAC from its I/O registers, not PCI Express.
        m.keys('PageDown')
        wait_row(m, 0, r'^Bus:00 Dev:05 Fun:00 +MAC: ' + RTL8139_MAC)
        wait_row(m, 12, r'PCI Express : NO ')
        wait_row(m, 18, r'^Realtek RTL-8100/8101L/8139 PCI Fast Ethernet Adapter')

        # The selector: 0:31:2, the AHCI controller.
        m.keys('p', '0', '0', '3', '1', '0', '2')
        wait_row(m, 0, r'^Bus:00 Dev:31 Fun:02')
        wait_row(m, 18, r'^Intel 82801IR/IO/IH \(ICH9R/DO/DH\) 6 port SATA Controller \[AHCI mode\]')

        # The PCI list on the wide screen.
        m.keys('F5')
        wait_row(m, 0, r'^BUS DEV FUN  DID VID NAME +PCI LIST$')
        m.wait_for(lambda mm: 'DEVICE : 001/007' in mm.row(27) and 'PAGE : 001/001' in mm.row(27), 20)
        m.wait_quiet(0.5)
        for i, line in enumerate(Q35_LIST):
            assert m.row(1 + i).rstrip() == line, (i, m.row(1 + i))
        assert m.row(8).strip() == ''
        m.expect_attr(0, 1, 0x2F)
        m.expect_attr(99, 1, 0x2F)
        m.expect_attr(0, 2, 0x07)
        assert m.row(29)[31:].startswith('KVQ 1.0.9 for UEFI Shell')
        idle = m.idle_bytes(5)
        report('x64 idle bytes in 5 s on the PCI list', idle)
        assert idle == 0, idle

        # Down twice and Enter: the PCIE page on the e1000e, in mode 0.
        m.keys('Down', 'Down')
        m.wait_for(lambda mm: 'DEVICE : 003/007' in mm.row(27), 10)
        m.keys('Enter')
        wait_row(m, 0, r'^Bus:00 Dev:04 Fun:00 +MAC: ' + E1000E_MAC)
        wait_row(m, 13, r'PCI IRQ#    : 5A')
        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)


if __name__ == '__main__':
    harness.main(test_pcie_page_and_pci_list)
