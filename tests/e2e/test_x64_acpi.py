#!/usr/bin/python3
"""x64 on a real FAT image: `dump acpi >a` gives a file that the host's
acpixtract splits and iasl decompiles (the DSDT); the ACPI page lists the
same signatures and lengths, every check holding, and Enter on MCFG shows
its signature in the Memory page's first cells."""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import START_FRAME, report, wait_row  # noqa: E402
from test_x64_command_line import STARTUP, timed  # noqa: E402


def test_acpi_page_and_dump():
    with harness.Machine(arch='x64', image=harness.image_path('x64'), startup=STARTUP, disk_image=True,
                         time_limit=400, key_pause=0.2) as m:
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
        _, seconds = timed(m, 'kvq.efi dump acpi >a acpi.txt')
        report('x64 Shell command "kvq.efi dump acpi >a acpi.txt", s', '%.2f' % seconds)

        m.send_text('kvq.efi\r')
        m.wait_for(START_FRAME, 90)
        wait_row(m, 24, r'KVQ 1\.0\.9')
        m.send_keys('F6', 'Right', 'Down', 'Down', 'Down', 'Down', 'Enter')
        wait_row(m, 22, r'TABLE : 001/0\d\d')
        m.wait_quiet(0.5)
        # Signature, length, address, checks.
        rows = [(r[0:4], int(r[23:31], 16), r[5:21], r[56:].strip()) for r in map(m.row, range(1, 21)) if r.strip()]
        mcfg = [r[0] for r in rows].index('MCFG')
        m.send_keys(*(['Down'] * mcfg), 'Enter')
        wait_row(m, 0, r'^Memory Address: %s' % rows[mcfg][2][8:])
        m.wait_quiet(0.5)
        assert m.row(2)[3:14] == '4D 43 46 47', m.row(2)
        m.send_keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
        m.send_text('reset -s\r')
        m.wait_exit(30)
        dump = m.disk_file('acpi.txt')
    report('x64 dump acpi size, bytes', len(dump))

    assert all(r[3] in ('ok', 'none') for r in rows) and [r[0] for r in rows][:2] == ['RSDP', 'XSDT'], rows
    with tempfile.TemporaryDirectory(prefix='kvq-e2e-acpi-') as d:
        with open(os.path.join(d, 'acpi.txt'), 'wb') as f:
            f.write(dump)
        out = subprocess.run(['acpixtract', '-a', 'acpi.txt'], cwd=d, check=True, stdout=subprocess.PIPE, text=True)
        iasl = subprocess.run(['iasl', '-d', 'dsdt.dat'], cwd=d, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True)
        with open(os.path.join(d, 'dsdt.dsl')) as f:
            dsl = f.read()
    tables = [(s, int(n)) for s, n in re.findall(r'^\s+(\S{4}) - +(\d+) bytes written', out.stdout, re.M)]
    assert tables == [r[:2] for r in rows] and {'FACP', 'DSDT', 'FACS'} <= {t[0] for t in tables}, (tables, rows)
    assert iasl.returncode == 0 and 'Error' not in iasl.stdout, iasl.stdout
    assert 'DefinitionBlock ("", "DSDT"' in dsl and 'Device (PCI0)' in dsl, dsl[:2000]


if __name__ == '__main__':
    harness.main(test_acpi_page_and_dump)
