#!/usr/bin/python3
"""IA-32: the Super I/O page on the 32-bit OVMF: the three empty records, not
decoded, nothing read at 002Eh, and at 0070h the clock line, a description
and a CMOS RAM byte written and read back."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, wait_row  # noqa: E402
from test_x64_superio import CLOCK, check_empty_panel, open_superio  # noqa: E402


def test_ia32_superio():
    with Kvq('ia32') as m:
        m.start_kvq()
        open_superio(m)
        check_empty_panel(m)
        assert m.grid_row(0x20) == '-- ' * 16, m.grid_row(0x20)

        m.keys('p', '0', '0', '7', '0')
        wait_row(m, 0, r'^ISA Address : 0070,0071 {19}' + CLOCK)
        m.to_offset(0x09)
        wait_row(m, 18, r'^Year *$')
        m.to_offset(0x7A, start=0x09)
        m.keys('Enter', '5', 'A')
        m.wait_for(lambda mm: mm.grid_row(0x70)[30:33] == '5A ', 10)

        m.keys('Esc')
        m.wait_for(lambda mm: 'KVQ 1.0.9' not in mm.row(24), 30)


if __name__ == '__main__':
    harness.main(test_ia32_superio)
