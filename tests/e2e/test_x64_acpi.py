#!/usr/bin/python3
"""x64: the ACPI tables of QEMU's Q35 under OVMF. `dump acpi >a` writes a
file that the host's acpixtract splits into one binary per table and iasl
decompiles (the DSDT without errors); the ACPI page lists the same
signatures and lengths, every check holding, sends nothing while idle, and
Enter on MCFG puts its signature in the Memory page's first cells.

Runs on a real FAT disk image, so the file the Shell writes comes back."""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import START_FRAME, report, wait_row  # noqa: E402
from test_x64_command_line import STARTUP, timed  # noqa: E402


def page_rows(m):
    """(signature, length, address, checks) of each row the page shows."""
    rows = []
    for r in range(1, 21):
        line = m.row(r)
        if not line.strip():
            break
        rows.append((line[0:4], int(line[23:31], 16), line[5:21], line[56:].strip()))
    return rows


def extract(dump):
    """acpixtract -a and iasl -d on the host: (signature, length) per table
    in file order, and iasl's word on the DSDT."""
    with tempfile.TemporaryDirectory(prefix='kvq-e2e-acpi-') as d:
        with open(os.path.join(d, 'acpi.txt'), 'wb') as f:
            f.write(dump)
        out = subprocess.run(['acpixtract', '-a', 'acpi.txt'], cwd=d, check=True, stdout=subprocess.PIPE,
                             text=True).stdout
        tables = [(sig, int(n)) for sig, n in re.findall(r'^\s+(\S{4}) - +(\d+) bytes written', out, re.M)]
        iasl = subprocess.run(['iasl', '-d', 'dsdt.dat'], cwd=d, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True)
        with open(os.path.join(d, 'dsdt.dsl')) as f:
            dsl = f.read()
    return tables, iasl, dsl


def test_acpi_page_and_dump():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    with harness.Machine(arch='x64', image=image, startup=STARTUP, disk_image=True, time_limit=400,
                         key_pause=0.2) as m:
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
        _, seconds = timed(m, 'kvq.efi dump acpi >a acpi.txt')
        report('x64 Shell command "kvq.efi dump acpi >a acpi.txt", s', '%.2f' % seconds)
        assert m.shell_command('echo %lasterror%').strip() == '0x0'

        m.send_text('kvq.efi\r')
        m.wait_for(START_FRAME, 90)
        wait_row(m, 24, r'KVQ 1\.0\.9')
        m.send_keys('F6', 'Right', 'Down', 'Down', 'Down', 'Down', 'Enter')
        wait_row(m, 0, r'ACPI TABLES')
        wait_row(m, 22, r'TABLE : 001/0\d\d')
        m.wait_quiet(0.5)
        rows = page_rows(m)
        idle = m.quiet_bytes(3)
        report('x64 idle bytes in 3 s on the ACPI page', idle)
        assert idle == 0, idle

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

    assert all(r[3] in ('ok', 'none') for r in rows), rows
    assert [r[0] for r in rows][:2] == ['RSDP', 'XSDT'] and {'FACP', 'DSDT', 'FACS'} <= {r[0] for r in rows}, rows
    tables, iasl, dsl = extract(dump)
    assert tables == [(r[0], r[1]) for r in rows], (tables, rows)
    assert iasl.returncode == 0 and 'Error' not in iasl.stdout, iasl.stdout
    assert 'DefinitionBlock ("", "DSDT"' in dsl and 'Device (PCI0)' in dsl, dsl[:2000]


if __name__ == '__main__':
    harness.main(test_acpi_page_and_dump)
