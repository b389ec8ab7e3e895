#!/usr/bin/python3
"""x64: kvq starts from startup.nsh on the PCIE page of 00:00.0, sends
nothing while idle, drives the function tab menu, cycles the width with F7,
and Esc returns to a Shell prompt that still runs commands."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402


def test_start_frame_menu_width_and_exit():
    with Kvq('x64') as m:
        m.start_kvq()
        report('x64 startup.nsh launch to first frame (s)', '%.2f' % m.first_frame_after)

        # The start frame: 00:00.0 in byte mode with the cursor on 0x00.
        assert m.row(0).startswith('Bus:00 Dev:00 Fun:00'), m.row(0)
        assert m.row(1).startswith('00 00 01 02 03'), m.row(1)
        assert m.row(2).startswith('00 86 80 C0 29'), m.row(2)
        assert m.row(18).startswith('Intel 82G33/G31/P35/P31 Express DRAM Controller'), m.row(18)
        assert 'PCI Express : NO' in m.row(12)
        assert 'Data Width : 8 bits' in m.row(1)
        assert m.row(24)[21:].startswith('KVQ 1.0.9 for UEFI Shell'), m.row(24)
        m.expect_attr(21, 24, 0x02)
        m.expect_attr(3, 2, 0x1F)
        m.expect_attr(0, 2, 0x0E)
        assert 'IO Port Address : 0x80000000' in m.row(19)
        assert 'Memory Address  : 0xB0000000' in m.row(20)

        idle = m.idle_bytes(5)
        report('x64 idle bytes in 5 s on the PCIE page', idle)
        assert idle == 0, idle

        # F7 cycles byte, word, dword, byte.
        m.keys('F7')
        wait_row(m, 1, r'Data Width : 16 bits')
        assert m.row(2).startswith('00 8086 29C0'), m.row(2)
        m.keys('F7')
        wait_row(m, 1, r'Data Width : 32 bits')
        assert m.row(2).startswith('00 29C08086'), m.row(2)
        m.keys('F7')
        wait_row(m, 1, r'Data Width : 8 bits')

        # F6: the menu, DEVICES open at item 1.
        m.keys('F6')
        wait_row(m, 0, r'^ DEVICES    OTHER ')
        m.screen_settles()
        assert m.row(1).startswith(' PCIE      '), m.row(1)
        assert m.row(4).startswith(' Super I/O '), m.row(4)
        assert m.row(5).startswith(' CPU       '), m.row(5)
        m.expect_attr(0, 0, 0x20)
        m.expect_attr(11, 0, 0x70)
        m.expect_attr(0, 1, 0x1F)
        m.expect_attr(0, 2, 0x70)
        assert m.row(24)[21:].startswith('KVQ 1.0.9 for UEFI Shell')
        idle = m.idle_bytes(5)
        report('x64 idle bytes in 5 s on the menu', idle)
        assert idle == 0, idle

        # Down stops at item 5 (CPU); F7 does nothing here.
        m.keys('Down', 'Down', 'Down', 'Down', 'Down', 'Down')
        m.wait_for(lambda mm: mm.cell_attrs(0, 5) == (('white', 'blue', True)))
        m.expect_attr(0, 4, 0x70)
        m.keys('F7')
        m.screen_settles()
        assert m.row(0).startswith(' DEVICES    OTHER '), m.row(0)
        m.expect_attr(0, 5, 0x1F)

        # Right: OTHER at item 1; Left: DEVICES at item 1.
        m.keys('Right')
        wait_row(m, 1, r'^ {11} HELP      ')
        m.screen_settles()
        assert m.row(3).startswith('            HDD       '), m.row(3)
        m.expect_attr(11, 0, 0x20)
        m.expect_attr(11, 1, 0x1F)
        m.keys('Left')
        wait_row(m, 1, r'^ PCIE      ')
        m.screen_settles()
        m.expect_attr(0, 1, 0x1F)

        # Enter on PCIE: back to the page, in byte mode.
        m.keys('Enter')
        wait_row(m, 0, r'^Bus:00 Dev:00 Fun:00')

        # Esc: a clean screen and a Shell prompt that runs a command.
        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)
        m.screen_settles()
        assert re.match(harness.SHELL_PROMPT, m.row(0)), m.row(0)
        for r in range(1, 31):
            assert m.row(r).strip() == '', (r, m.row(r))
        out = m.shell_command('ver')
        assert 'UEFI Interactive Shell v2.' in out, out
        # The Shell's own mode again (the board starts it at 100 columns).
        modes = m.shell_command('mode')
        assert re.search(r'Col\s+100 Row\s+31\s+\*', modes), modes


if __name__ == '__main__':
    harness.main(test_start_frame_menu_width_and_exit)
