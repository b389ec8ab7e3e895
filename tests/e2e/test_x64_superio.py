#!/usr/bin/python3
"""x64: the Super I/O page on Q35, which has no Super I/O chip: three empty
records in light gray, "not decoded" (ICH9's LPC_EN is 0005h), nothing
read at 002Eh until it is typed, and nothing sent while idle; at 0070h
the clock line, the CMOS descriptions, and CMOS RAM bytes written in byte
and word mode and read back."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402

CLOCK = r'\d\d:\d\d:\d\d'


def open_superio(m):
    m.keys('F6')
    wait_row(m, 0, r'^ DEVICES ')
    m.keys('Left', 'Down', 'Down', 'Down', 'Enter')
    wait_row(m, 0, r'^ISA Address : 002E,002F')
    m.wait_quiet(0.5)


def check_empty_panel(m):
    for i, port in enumerate(('2E', '4E', '6E')):
        row = 3 + 4 * i
        assert m.row(row)[51:73] == 'Index:%s VID:00 DID:00' % port, m.row(row)
        assert m.row(row + 1)[51:73] == 'Vendor:N/A not decoded', m.row(row + 1)
        assert m.row(row + 2)[51:60] == 'Model:N/A', m.row(row + 2)
        m.expect_attr(51, row, 0x0F)
        m.expect_attr(57, row, 0x0A)
        for col, r in ((64, row), (71, row), (58, row + 1), (62, row + 1), (57, row + 2)):
            m.expect_attr(col, r, 0x07)


def test_superio_page():
    with Kvq('x64') as m:
        m.start_kvq()
        open_superio(m)
        check_empty_panel(m)
        for r in range(16):
            assert m.grid_row(16 * r) == '-- ' * 16, (r, m.grid_row(16 * r))
        idle = m.idle_bytes(5)
        report('x64 idle bytes in 5 s on the Super I/O page at 002Eh', idle)
        assert idle == 0, idle

        m.keys('p', '0', '0', '2', 'E')  # typed, it is read
        m.wait_for(lambda mm: mm.grid_row(0xF0) == 'FF ' * 16, 10)
        # The CMOS clock: its line at column 42 and the register names.
        m.keys('p', '0', '0', '7', '0')
        wait_row(m, 0, r'^ISA Address : 0070,0071 {19}' + CLOCK)
        wait_row(m, 18, r'^Seconds *$')
        m.to_offset(0x09)
        wait_row(m, 18, r'^Year *$')
        m.wait_quiet(0.3)
        n = m.quiet_bytes(5)
        report('x64 bytes per second on the Super I/O page at 0070h (clock ticking)', '%.0f' % (n / 5.0))
        assert 0 < n < 5 * 200, n

        # CMOS RAM: a byte at 7Ah, then a word at 7Ch, written and read back.
        m.to_offset(0x7A, start=0x09)
        wait_row(m, 19, r'0x7A ->')
        m.keys('Enter', 'A', '5')
        m.wait_for(lambda mm: mm.grid_row(0x70)[30:33] == 'A5 ', 10)
        m.keys('F7')
        wait_row(m, 1, r'Data Width : 16 bits')
        m.to_offset(0x7C, width=2)
        m.keys('Enter', '1', '2', '3', '4')
        m.wait_for(lambda mm: mm.grid_row(0x70)[30:35] == '1234 ', 10)
        assert m.grid_row(0x70)[27:30] == 'A5 ', m.grid_row(0x70)

        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)


if __name__ == '__main__':
    harness.main(test_superio_page)
