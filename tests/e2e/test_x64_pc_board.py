#!/usr/bin/python3
"""x64 on QEMU's i440FX board (machine pc), whose PIIX3 is no chipset kvq
knows: 0:31.0 does not exist there, so the PCH Strap page finds no flash
controller and draws no strap."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, wait_row  # noqa: E402


def check_pc_straps(m):
    """On a started kvq: the PCH Strap page says there is no flash
    controller and shows no strap row; F6 leads back to the menu."""
    m.keys('F6', 'Right', 'Down', 'Down', 'Down', 'Enter')
    wait_row(m, 0, r'^ {32}PCH Soft Straps')
    wait_row(m, 2, r'^ {32}No flash controller found *$')
    m.wait_quiet(0.5)
    for row in range(3, 24):
        assert m.row(row).strip() == '', (row, m.row(row))
    m.keys('F6')
    wait_row(m, 0, r'^ DEVICES ')


def test_pc_board():
    with Kvq('x64', machine='pc') as m:
        m.start_kvq()
        check_pc_straps(m)
        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)


if __name__ == '__main__':
    harness.main(test_pc_board)
