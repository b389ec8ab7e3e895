#!/usr/bin/python3
"""x64: S opens the e1000e's memory-mapped configuration space on the Memory
page with the same bytes as its PCIE page, a byte typed there is seen through
the configuration ports, a word typed into RAM reads back, a byte read of the
e1000e's registers shows two hex digits, row 0 names the memory type, the
I/O page shows the CMOS index/data pair and, in dword mode, the e1000e's
IOADDR/IODATA pair: IODATA shows RAL0 of the board's MAC."""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402

TWO_DIGIT_CELLS = re.compile(r'^(?:[0-9A-F]{2} ){16}$')


def open_from_menu(m, downs, header, settle=True):
    m.keys('F6')
    wait_row(m, 0, r'^ DEVICES ')
    # The menu reopens on the item last chosen; Left starts from item 1.
    m.keys(*(['Left'] + ['Down'] * downs + ['Enter']))
    wait_row(m, 0, header)
    if settle:
        m.wait_quiet(0.5)


def test_memory_and_io_pages():
    with Kvq('x64') as m:
        m.start_kvq()
        m.keys('PageDown', 'PageDown')
        wait_row(m, 0, r'^Bus:00 Dev:04 Fun:00')
        m.wait_quiet(0.5)
        ids = m.grid_row(0x00)[:12]
        bar = m.grid_row(0x10)[:12].split()
        bar0 = int(''.join(reversed(bar)), 16) & ~0xF

        # S: the memory-mapped configuration space of 00:04.0.
        m.keys('S')
        wait_row(m, 0, r'^Memory Address: B0020000 (reserved|MMIO) +$')
        m.wait_quiet(0.5)
        report('x64 memory type of the memory-mapped configuration space', m.row(0)[25:].strip())
        assert m.grid_row(0x00)[:12] == ids, (m.grid_row(0x00), ids)
        assert 'Data Width : 8 bits' in m.row(1)

        # A byte at 0x3C of that space reaches configuration space.
        m.to_offset(0x3C)
        wait_row(m, 19, r'0xB002003C ->')
        m.keys('Enter', '7', '7')
        m.keys('s')
        wait_row(m, 0, r'^Bus:00 Dev:04 Fun:00')
        wait_row(m, 13, r'PCI IRQ#    : 77')

        # RAM: a word typed at 0x10000000 is read back on the next pass.
        open_from_menu(m, 1, r'^Memory Address: B0020000')
        m.keys('p', *'10000000')
        wait_row(m, 0, r'^Memory Address: 10000000 RAM +$')
        m.keys('F7')
        wait_row(m, 1, r'Data Width : 16 bits')
        m.keys('Enter', 'B', 'E', 'E', 'F')
        m.wait_for(lambda mm: mm.grid_row(0x00).startswith('BEEF '), 10)
        wait_row(m, 19, r'0x10000000 ->')
        m.keys('F7', 'F7')
        wait_row(m, 1, r'Data Width : 8 bits')
        m.wait_for(lambda mm: mm.grid_row(0x00).startswith('EF BE '), 10)
        idle = m.idle_bytes(5)
        report('x64 idle bytes in 5 s on the Memory page over RAM', idle)
        assert idle == 0, idle

        # Byte reads of the e1000e's registers: two hex digits per cell.
        m.keys('p', *('%08X' % bar0))
        wait_row(m, 0, r'^Memory Address: %08X MMIO +$' % bar0)
        m.wait_quiet(0.5)
        assert TWO_DIGIT_CELLS.match(m.grid_row(0x40)), m.grid_row(0x40)
        m.to_offset(0x41, start=0x3C)  # the Memory page's byte cursor stayed on 0x3C
        wait_row(m, 19, r'0x%08X -> 0x[0-9A-F]{2}\b' % (bar0 + 0x41))

        # The I/O page on the CMOS clock: select register 0 (seconds) through
        # the index port, then watch the data port tick.
        # Ports 0x00 to 0xFF hold the timer's counters: never quiet.
        open_from_menu(m, 2, r'^I/O Address : 0000', settle=False)
        m.keys('p', '0', '0', '7', '0')
        wait_row(m, 0, r'^I/O Address : 0070')
        m.keys('Enter', '0', '0')
        time.sleep(0.5)
        first = m.grid_row(0x00)[3:5]
        assert re.match(r'[0-5][0-9]', first), m.grid_row(0x00)
        m.wait_for(lambda mm: mm.grid_row(0x00)[3:5] != first, 5)
        n = m.quiet_bytes(5)
        report('x64 bytes per second on the I/O page over the CMOS seconds', '%.0f' % (n / 5.0))
        assert n < 5 * 200, n

        # 5400h into IOADDR: IODATA reads RAL0 (52:54:00:aa:bb:01).
        m.keys('p', '6', '1', '6', '0', 'F7', 'F7')
        wait_row(m, 1, r'Data Width : 32 bits')
        m.keys('Enter', *'00005400')
        m.wait_for(lambda mm: mm.grid_row(0x00).startswith('00005400 AA005452 '), 10)

        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)


if __name__ == '__main__':
    harness.main(test_memory_and_io_pages)
