#!/usr/bin/python3
"""x64 on the i440FX board (machine pc): no 0:31.0, no chipset kvq knows.
Each check takes kvq started on its first frame; all run in one boot."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, wait_row  # noqa: E402


def check_memory_address_not_from_register_60(m):
    """60h of host bridge 8086:1237 holds DRAM rows; there is no MCFG."""
    assert m.row(2).startswith('00 86 80 37 12'), m.row(2)
    wait_row(m, 20, r'Memory Address  : none')


def check_pc_straps(m):
    """On a started kvq: the PCH Strap page finds no flash controller and
    draws no strap; F6 leads back to the menu."""
    m.keys('F6', 'Right', 'Down', 'Down', 'Down', 'Enter')
    wait_row(m, 2, r'^ {32}No flash controller found *$')
    m.wait_quiet(0.5)
    assert all(m.row(row).strip() == '' for row in range(3, 24)), m.screen_text()
    m.keys('F6')
    wait_row(m, 0, r'^ DEVICES ')


def test_pc_board():
    with Kvq('x64', machine='pc') as m:
        m.start_kvq()
        check_memory_address_not_from_register_60(m)
        check_pc_straps(m)


if __name__ == '__main__':
    harness.main(test_pc_board)
