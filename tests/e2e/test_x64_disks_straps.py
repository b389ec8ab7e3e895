#!/usr/bin/python3
"""x64: disks beyond 0:31:2 and the strap page's flash controller search.

A second AHCI function at 00:08.0 with a disk, and an NVMe controller at
00:07.0 with a 2 GiB FAT volume: PageUp/PageDown on the HDD page reach both,
with their own titles, the NVMe model and size; after Esc the Shell still
writes and reads a file on the NVMe volume. The PCH Strap page shows the
straps behind RCBA with the line that says the flash descriptor is not valid
(QEMU has none); with RCBA disabled from the command line before kvq starts,
it says there is no flash controller, and RCBA is restored afterwards.
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import report, wait_row  # noqa: E402
from test_x64_command_line import STARTUP  # noqa: E402

NVME_BYTES = 2 << 30

# Run from the Shell after kvq: writes a file on the NVMe volume (found by
# its marker) and reads it back.
NVME_NSH = """\
@echo -off
for %i in fs0 fs1 fs2 fs3 fs4 fs5 fs6 fs7 fs8 fs9
  if exist %i:\\nvme.txt then
    echo written by the Shell > %i:\\w.txt
    type %i:\\w.txt
  endif
endfor
"""


def nvme_volume(folder):
    """A sparse 2 GiB FAT32 volume with a marker file the Shell can find."""
    path = os.path.join(folder, 'nvme.img')
    with open(path, 'wb') as f:
        f.truncate(NVME_BYTES)
    subprocess.run(['mkfs.fat', '-F', '32', path], check=True, stdout=subprocess.DEVNULL)
    marker = os.path.join(folder, 'nvme.txt')
    with open(marker, 'w') as f:
        f.write('the NVMe volume\n')
    subprocess.run(['mcopy', '-i', path, marker, '::/nvme.txt'], check=True)
    return path


def start_kvq(m):
    m.send_text('kvq.efi\r')
    m.wait_for(r'Bus:00 Dev:00 Fun:00', 60)
    m.wait_quiet(0.5)


def leave_kvq(m):
    m.send_keys('Esc')
    m.wait_raw(harness.SHELL_PROMPT + r'$', 30, since=len(m.raw) - 1)


def step_to(m, key, title):
    t = time.monotonic()
    m.send_keys(key, pause=0)
    wait_row(m, 0, title, 20)
    m.wait_for(lambda mm: mm.row(18).strip() != '', 20)
    return time.monotonic() - t


def test_disks_and_straps():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    folder = tempfile.mkdtemp(prefix='kvq-disks-')
    try:
        sata = os.path.join(folder, 'sata.img')
        with open(sata, 'wb') as f:
            f.truncate(64 << 20)
        extra = ['-device', 'ich9-ahci,id=ahci2,addr=8',
                 '-drive', 'if=none,id=d2,format=raw,file=' + sata,
                 '-device', 'ide-hd,drive=d2,bus=ahci2.0,model=KVQ SECOND AHCI',
                 '-drive', 'if=none,id=nvm,format=raw,file=' + nvme_volume(folder),
                 '-device', 'nvme,drive=nvm,serial=KVQNVME1,addr=7']
        with harness.Machine(arch='x64', image=image, startup=STARTUP, workdir=folder, extra=extra,
                             files={'nvme.nsh': NVME_NSH.replace('\n', '\r\n').encode('ascii')},
                             time_limit=500, key_pause=0.2) as m:
            m.boot_to_shell()
            m.wait_raw(r'kvq-disk-ready', 60)
            m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
            run_hdd(m)
            run_straps(m)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run_hdd(m):
    start_kvq(m)
    m.send_keys('F6', 'Right', 'Down', 'Down', 'Enter')
    wait_row(m, 0, r'^HDD Port 0 Address: [0-9A-F]{8}')
    wait_row(m, 18, r'^Model Name: QEMU HARDDISK')
    # Backwards from port 0 of 0:31:2: the last disk is the NVMe namespace.
    step_to(m, 'PageUp', r'^NVMe 00:07\.0 NS 1 Address: [0-9A-F]{8}')
    wait_row(m, 18, r'^Model Name: QEMU NVMe Ctrl +Serial: KVQNVME1 +Size: 2G')
    step_to(m, 'PageUp', r'^HDD 00:08\.0 Port 5 Address: FFFFFFFF')
    wait_row(m, 18, r'^No device be detected ! *$')
    assert m.row(2)[3:51] == '-- ' * 16, m.row(2)
    # Key to screen, back and forth between the namespace and the empty port.
    to_nvme, to_empty = [], []
    for _ in range(5):
        m.wait_quiet(0.3)
        to_nvme.append(step_to(m, 'PageDown', r'^NVMe 00:07\.0 NS 1 Address:'))
        m.wait_quiet(0.3)
        to_empty.append(step_to(m, 'PageUp', r'^HDD 00:08\.0 Port 5 Address:'))
    nvme, empty = statistics.median(to_nvme), statistics.median(to_empty)
    for port in (4, 3, 2, 1):
        step_to(m, 'PageUp', r'^HDD 00:08\.0 Port %d Address:' % port)
    m.wait_quiet(0.3)
    ata = step_to(m, 'PageUp', r'^HDD 00:08\.0 Port 0 Address: [0-9A-F]{8}')
    wait_row(m, 18, r'^Model Name: KVQ SECOND AHCI')
    report('x64 HDD PageUp to an ATA disk on 00:08.0: key to screen, s', '%.3f' % ata)
    report('x64 HDD PageUp to an empty port: key to screen, s', '%.3f' % empty)
    report('x64 HDD PageUp to the NVMe namespace: key to screen, s', '%.3f' % nvme)
    # Two Identify commands lie between the key and the screen (controller
    # and namespace, asked once when the step selects it); an empty port
    # asks nothing.
    report('x64 HDD key to screen, NVMe step minus empty-port step (2 Identify commands), ms',
           '%.1f' % ((nvme - empty) * 1000))
    step_to(m, 'PageUp', r'^HDD Port 7 Address:')
    leave_kvq(m)
    # The firmware still reads and writes the disks.
    out = m.shell_command('nvme.nsh')
    assert 'written by the Shell' in out, out


def run_straps(m):
    rcba = m.shell_command('kvq.efi read pci 00:1f.0 f0 d').strip()
    assert rcba == 'FED1C001', rcba
    assert m.shell_command('kvq.efi write pci 00:1f.0 f0 fed1c000 d').strip() == 'FED1C000'
    start_kvq(m)
    m.send_keys('F6', 'Right', 'Down', 'Down', 'Down', 'Enter')
    wait_row(m, 2, r'^ {32}No flash controller found *$')
    leave_kvq(m)
    assert m.shell_command('kvq.efi write pci 00:1f.0 f0 fed1c001 d').strip() == 'FED1C001'
    start_kvq(m)
    m.send_keys('F6', 'Right', 'Down', 'Down', 'Down', 'Enter')
    wait_row(m, 2, r'^ {33}00:0x[0-9A-F]{8}')
    wait_row(m, 22, r'^ {33}20:0x[0-9A-F]{8}')
    wait_row(m, 23, r'No valid flash descriptor \(HSFS\.FDV is 0\)')
    leave_kvq(m)


if __name__ == '__main__':
    harness.main(test_disks_and_straps)
