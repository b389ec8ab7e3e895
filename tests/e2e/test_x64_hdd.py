#!/usr/bin/python3
"""x64: the HDD page with the boot disk on AHCI port 0 and a disk of our own
on port 1, both identified through OVMF's ATA Pass Thru protocol: both
models, the second disk's size, its IDENTIFY answer in the character column,
a byte typed into the answer that stays until `i` asks the disk again,
"No device be detected !" on port 7 (not implemented) and port 2 (empty),
the keystroke latency with and without a disk, and after Esc a Shell whose
boot disk still reads."""

import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402

SECTORS = 250069680  # a 128 GB disk, sparse on the host
MODEL = 'KVQ TEST DISK'


def sparse_disk(folder, sectors):
    path = os.path.join(folder, 'disk1.img')
    with open(path, 'wb') as f:
        f.truncate(sectors * 512)
    return path


def second_disk_args(image, model):
    return ['-drive', 'if=none,id=d1,format=raw,file=' + image,
            '-device', 'ide-hd,drive=d1,bus=ide.1,model=' + model]


def open_hdd_page(m):
    m.keys('F6')
    wait_row(m, 0, r'^ DEVICES ')
    m.keys('Right', 'Down', 'Down', 'Enter')
    return wait_row(m, 0, r'^HDD Port 0 Address: ([0-9A-F]{8})').group(1)


def key_latencies(m, base, samples=6):
    """Right and Left in turn on the byte grid; the time from each key to
    the address line that shows the cursor's new cell."""
    times = []
    for i in range(samples):
        key, offset = ('Right', 1) if i % 2 == 0 else ('Left', 0)
        want = '0x%08X ->' % ((base + offset) & 0xFFFFFFFF)
        t = time.monotonic()
        m.send_keys(key, pause=0)
        m.wait_for(lambda mm: want in mm.row(19), 10)
        times.append(time.monotonic() - t)
        m.wait_quiet(0.3)
    return statistics.median(times)


def test_hdd_page():
    folder = tempfile.mkdtemp(prefix='kvq-hdd-')
    try:
        image = sparse_disk(folder, SECTORS)
        with Kvq('x64', extra=second_disk_args(image, MODEL)) as m:
            m.start_kvq()
            base = open_hdd_page(m)
            wait_row(m, 18, r'^Model Name: QEMU HARDDISK .* ATA Pass Thru *$')

            # Port 1: our disk, in the same buffer.
            m.keys('PageDown')
            wait_row(m, 0, r'^HDD Port 1 Address: %s' % base)
            wait_row(m, 18, r'^Model Name: %s +Size: 128G +ATA Pass Thru *$' % MODEL)
            m.wait_quiet(0.5)
            # Words 27 on at offset 54, each word's high byte first: "KV",
            # "Q " arrive as V K . Q ...
            assert m.row(5)[51:67].endswith('VK.QETTSD.'), m.row(5)
            assert m.row(6)[51:67].startswith('SI.K'), m.row(6)
            idle = m.idle_bytes(5)
            report('x64 idle bytes in 5 s on the HDD page, port 1', idle)
            assert idle == 0, idle
            lat_disk = key_latencies(m, int(base, 16))
            report('x64 HDD page keystroke latency, disk on the port (ms)', '%.0f' % (lat_disk * 1000))

            # The disk is asked once: a byte typed into its answer (word 0,
            # 0040h for a fixed disk) stays until i asks it again.
            assert m.grid_row(0).startswith('40 00 '), m.grid_row(0)
            m.keys('Enter', '4', '1')
            m.wait_for(lambda mm: mm.grid_row(0).startswith('41 00 '), 10)
            m.wait_quiet(0.5)
            assert m.grid_row(0).startswith('41 00 '), m.grid_row(0)
            m.keys('i')
            m.wait_for(lambda mm: mm.grid_row(0).startswith('40 00 '), 10)

            # Port 2: implemented, empty; at once.
            t = time.monotonic()
            m.send_keys('PageDown', pause=0)
            wait_row(m, 18, r'^No device be detected ! *$')
            report('x64 HDD page PageDown to an empty port (ms)', '%.0f' % ((time.monotonic() - t) * 1000))
            wait_row(m, 0, r'^HDD Port 2 Address: FFFFFFFF')
            m.wait_quiet(0.5)
            lat_empty = key_latencies(m, 0xFFFFFFFF)
            report('x64 HDD page keystroke latency, empty port (ms)', '%.0f' % (lat_empty * 1000))

            # Port 7: not implemented.
            m.keys('PageUp', 'PageUp', 'PageUp')
            wait_row(m, 0, r'^HDD Port 7 Address: FFFFFFFF')
            wait_row(m, 18, r'^No device be detected ! *$')

            # The firmware's driver still reads the boot disk.
            m.keys('Esc')
            m.wait_raw(harness.SHELL_PROMPT + r'$', 20)
            listing = m.shell_command('ls')
            assert 'kvq.efi' in listing.lower() and 'startup.nsh' in listing.lower(), listing
            text = m.shell_command('type startup.nsh')
            assert 'kvq-launch' in text, text
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    harness.main(test_hdd_page)
