#!/usr/bin/python3
"""x64: kvq from the Shell's command line. `dump pci >a` writes a file that
the host's lspci decodes (the e1000e with its Express and extended
capabilities) and prints back unchanged; a write to the e1000e's 3Ch reads
back and shows in the dump; a dword written to the e1000e's IOADDR makes
IODATA read RAL0; malformed command lines fail with a message and
an error status and leave every configuration register as it was; nothing
clears the screen.

Runs on a real FAT disk image, so the files the Shell writes come back.
"""

import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import report  # noqa: E402

# Makes the disk with kvq.efi the current file system, then stops.
STARTUP = """\
@echo -off
for %i in fs0 fs1 fs2 fs3 fs4 fs5 fs6 fs7
  if exist %i:\\kvq.efi then
    %i:
    echo kvq-disk-ready
    goto done
  endif
endfor
:done
"""

LSPCI = '/usr/bin/lspci'

MALFORMED = [
    ('kvq.efi write pci 00:04.0 3c 5g', r'kvq: VALUE "5g" is not a hexadecimal number'),
    ('kvq.efi write pci 00:20.0 3c 11', r'kvq: BB:DD.F "00:20.0" has a device above 1F'),
    ('kvq.efi write pci 00:04.0 3d 1 w', r'kvq: OFFSET "3d" is not aligned to a word'),
    ('kvq.efi write io 80 1ff', r'kvq: VALUE "1ff" does not fit in a byte'),
    ('kvq.efi poke pci 00:04.0 3c 1', r'kvq: unknown command "poke"'),
]


def lspci(path, *args):
    return subprocess.run([LSPCI, '-F', path] + list(args), check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True).stdout


def timed(m, cmd):
    t = time.monotonic()
    out = m.shell_command(cmd, timeout=120)
    return out, time.monotonic() - t


def test_command_line_modes():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    with harness.Machine(arch='x64', image=image, startup=STARTUP, disk_image=True, time_limit=400,
                         key_pause=0.05) as m:
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
        first_kvq = len(m.raw)

        usage = m.shell_command('kvq.efi -h')
        assert 'usage: kvq.efi -h' in usage and 'write pci BB:DD.F OFFSET VALUE [b|w|d]' in usage, usage
        assert '>a' in usage and 'UCS-2' in usage, usage

        # The interrupt line of the e1000e: a plain read/write register.
        before = m.shell_command('kvq.efi read pci 00:04.0 3c').strip()
        assert re.fullmatch(r'[0-9A-F]{2}', before), before
        assert m.shell_command('kvq.efi write pci 00:04.0 3c 5a').strip() == '5A'
        assert m.shell_command('kvq.efi read pci 00:04.0 0x3C b').strip() == '5A'
        assert m.shell_command('kvq.efi read pci 00:04.0 0 d').strip() == '10D38086'
        # The e1000e's IOADDR/IODATA pair (BAR2): IODATA reads RAL0 of its MAC.
        io = int(m.shell_command('kvq.efi read pci 00:04.0 18 d').strip(), 16) & ~3
        assert m.shell_command('kvq.efi write io %X 00005400 d' % io).strip() == '00005400'
        assert m.shell_command('kvq.efi read io %X d' % (io + 4)).strip() == 'AA005452'

        # The Shell loads kvq from the disk for every command: time a command
        # that does nothing else, then the dump.
        _, load = timed(m, 'kvq.efi -h >a help.txt')
        _, dump = timed(m, 'kvq.efi dump pci >a pci.txt')
        report('x64 Shell command "kvq.efi -h >a help.txt", s', '%.2f' % load)
        report('x64 Shell command "kvq.efi dump pci >a pci.txt", s', '%.2f' % dump)

        for cmd, message in MALFORMED:
            out = m.shell_command(cmd)
            assert re.search('^' + re.escape(message).replace('\\ ', ' ') + '$', out, re.M), (cmd, out)
            assert re.search(r'^usage: kvq\.efi ', out, re.M), (cmd, out)
            status = m.shell_command('echo %lasterror%').strip()
            assert status == '0x2', (cmd, status)
        m.shell_command('kvq.efi dump pci >a after.txt', timeout=120)

        # Command-line modes print lines; they never clear the screen.
        assert b'\x1b[2J' not in bytes(m.raw[first_kvq:])

        m.send_text('reset -s\r')
        m.wait_exit(30)

        dump_bytes = m.disk_file('pci.txt')
        after_bytes = m.disk_file('after.txt')
    report('x64 dump pci size, bytes', len(dump_bytes))
    assert after_bytes == dump_bytes, 'a malformed command line changed a configuration register'

    with tempfile.NamedTemporaryFile(prefix='kvq-e2e-pci-', suffix='.txt') as f:
        f.write(dump_bytes)
        f.flush()
        path = f.name
        text = dump_bytes.decode('ascii')
        assert text.endswith('\r\n\r\n') and '\n' not in text.replace('\r\n', ''), 'not CR LF lines'

        names = lspci(path, '-nn')
        assert re.search(r'^00:04\.0 Ethernet controller \[0200\]: Intel Corporation 82574L Gigabit '
                         r'Network Connection \[8086:10d3\]$', names, re.M), names
        nic = lspci(path, '-vv', '-s', '00:04.0')
        assert re.search(r'Capabilities: \[e0\] Express \(v\d\)', nic), nic
        assert re.search(r'Capabilities: \[100 v\d\] Advanced Error Reporting', nic), nic
        assert 'Interrupt: pin A routed to IRQ 90' in nic, nic  # 5Ah, as written
        # pciutils reads every byte back: its own dump of the file is the file.
        assert lspci(path, '-n', '-xxxx') == text.replace('\r\n', '\n')


if __name__ == '__main__':
    harness.main(test_command_line_modes)
