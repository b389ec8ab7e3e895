#!/usr/bin/python3
"""IA-32 with two processors: the CPU page of the 32-bit image takes its #GP
through the IA-32 system context. MSR 1Bh has the BSP flag on CPU 0 and not
on CPU 1; on each processor the write of 1_0000_0000h to IA32_PKRS is
refused and reported with the MSR unchanged, and a write of 5 reads back."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402
from test_x64_cpu import pkrs_writes, row_moves  # noqa: E402


def test_ia32_cpu_page():
    with Kvq('ia32', extra=['-smp', '2']) as m:
        m.start_kvq()
        m.keys('F6', 'Left', 'Down', 'Down', 'Down', 'Down', 'Enter')
        wait_row(m, 0, r'CPU 0 of 2 +AuthenticAMD  Family 0Fh Model 6Bh Stepping 1', 30)
        report('ia32 CPU page: Down/Up key to screen settled (median), ms', '%.0f' % row_moves(m))
        m.keys('p', *'0000001B')
        wait_row(m, 2, r'^0000001B  00000000FEE00900  IA32_APIC_BASE')
        pkrs_writes(m, 0)
        m.keys('>')
        wait_row(m, 0, r'CPU 1 of 2 ')
        m.keys('p', *'0000001B')
        wait_row(m, 2, r'^0000001B  00000000FEE00800  IA32_APIC_BASE')
        pkrs_writes(m, 1)
        m.keys('Esc')
        m.wait_for(lambda mm: 'KVQ 1.0.9' not in mm.row(24), 30)


if __name__ == '__main__':
    harness.main(test_ia32_cpu_page)
