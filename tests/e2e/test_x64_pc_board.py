#!/usr/bin/python3
"""x64 on QEMU's i440FX board (pc): kvq must assume nothing of a chipset it
does not know. Each check takes a started kvq on its first frame, so that
several run in one boot."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, wait_row  # noqa: E402


def check_memory_address_not_from_register_60(m):
    """The host bridge 8086:1237 holds DRAM row boundaries at 60h (0 here)
    and the firmware publishes no MCFG: the PCIE page's "Memory Address"
    line says none rather than an address made from 60h."""
    wait_row(m, 0, r'^Bus:00 Dev:00 Fun:00')
    assert m.row(2).startswith('00 86 80 37 12'), m.row(2)
    wait_row(m, 20, r'Memory Address  : none')
    assert 'IO Port Address : 0x80000000' in m.row(19), m.row(19)


def test_pc_board():
    with Kvq('x64', machine='pc') as m:
        m.start_kvq()
        check_memory_address_not_from_register_60(m)


if __name__ == '__main__':
    harness.main(test_pc_board)
