#!/usr/bin/python3
"""The board boots x64 OVMF to the UEFI Shell, the console round trip works
both ways (output through pyte, keys as PC-ANSI), and the guest powers off.

Needs no kvq image: the FAT disk is empty.
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def prompt_row(m):
    rows = [i for i, line in enumerate(m.screen.display) if line.startswith('Shell> ')]
    return rows[-1] if rows else None


def test_shell_boots_runs_ver_and_powers_off():
    with harness.Machine(arch='x64', image=None, time_limit=120, key_pause=0.05) as m:
        m.boot_to_prompt()

        out = m.shell_command('ver')
        assert re.search(r'^UEFI Interactive Shell v2\.\d', out, re.M), out
        assert re.search(r'^UEFI v2\.\d+ \(EDK II, 0x[0-9A-F]+\)', out, re.M), out
        m.wait_for(r'UEFI Interactive Shell v2\.')

        # With the VGA adapter present the firmware picks 100x31, the size
        # the screen model has.
        modes = m.shell_command('mode')
        assert re.search(r'Col\s+100 Row\s+31\s+\*', modes), modes

        # Line editing keys reach the Shell in their PC-ANSI form:
        # "xvrr" BS -> "xvr", Left, "e" -> "xver", Home, Delete -> "ver".
        offset = len(m.raw)
        m.send_text('xvrr')
        m.send_keys('Backspace', 'Left', 'e', 'Home', 'Delete', 'End', 'Enter')
        m.wait_raw(r'\r\nUEFI Interactive Shell v2\.\d.*%s$' % harness.SHELL_PROMPT, 10,
                   since=offset)

        # The prompt is bright yellow on black: attributes come through.
        m.wait_for(lambda mm: prompt_row(mm) is not None)
        assert m.cell_attrs(0, prompt_row(m)) == ('brown', 'black', True)

        # ClearScreen fills the whole screen with the current background.
        m.shell_command('cls 1')
        m.wait_for(lambda mm: mm.cell_attrs(99, 30)[1] == "blue", 10)
        assert m.cell_attrs(50, 15)[1] == 'blue'

        m.send_text('reset -s\r')
        assert m.wait_exit(30) == 0
        # The NICs have a back end: QEMU has nothing to warn about.
        assert m.stderr_text().strip() == '', m.stderr_text()


if __name__ == '__main__':
    harness.main(test_shell_boots_runs_ver_and_powers_off)
