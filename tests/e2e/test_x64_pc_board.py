#!/usr/bin/python3
"""x64 on QEMU's i440FX board; each check takes kvq on its first frame."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, wait_row  # noqa: E402


def check_memory_address_not_from_register_60(m):
    """60h of host bridge 8086:1237 holds DRAM rows; there is no MCFG."""
    assert m.row(2).startswith('00 86 80 37 12'), m.row(2)
    wait_row(m, 20, r'Memory Address  : none')


def test_pc_board():
    with Kvq('x64', machine='pc') as m:
        check_memory_address_not_from_register_60(m.start_kvq())


if __name__ == '__main__':
    harness.main(test_pc_board)
