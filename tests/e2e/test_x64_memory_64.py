#!/usr/bin/python3
"""x64: memory above 4 GiB and pages no table maps. An NVMe controller's
64-bit BAR0 lies above 4 GiB on QEMU's Q35: `read mem` reaches its VS
register, and P on the Memory page shows CAP and VS there. An address the
firmware's tables leave unmapped (7FFFFFFFF000, where the Shell's own dmem
takes a page fault and the board hangs) is refused by `read mem` with an
error status and shows "--" on the Memory page, which stays live.

The processor gets 48 physical address bits, so that 7FFFFFFFF000 lies
within its reach but beyond what OVMF maps.
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import report  # noqa: E402
from test_x64_command_line import STARTUP  # noqa: E402

UNMAPPED = 0x7FFFFFFFF000


def test_memory_above_4g_and_unmapped():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    workdir = harness.tempfile.mkdtemp(prefix='kvq-e2e-')
    nvme = os.path.join(workdir, 'nvme.img')
    with open(nvme, 'wb') as f:
        f.truncate(16 << 20)
    extra = ['-cpu', 'qemu64,phys-bits=48',
             '-drive', 'if=none,id=nvm,format=raw,file=' + nvme,
             '-device', 'nvme,drive=nvm,serial=KVQNVME,addr=7']
    with harness.Machine(arch='x64', image=image, startup=STARTUP, workdir=workdir, extra=extra,
                         time_limit=400, key_pause=0.2) as m:
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)

        low = int(m.shell_command('kvq.efi read pci 00:07.0 10 d').strip(), 16)
        high = int(m.shell_command('kvq.efi read pci 00:07.0 14 d').strip(), 16)
        assert low & 0x7 == 0x4, 'BAR0 is not a 64-bit memory BAR: %08X' % low
        bar = (high << 32) | (low & ~0xF)
        report('x64 NVMe BAR0', '%X' % bar)
        assert bar > 0xFFFFFFFF, 'the firmware put the NVMe BAR below 4 GiB: %X' % bar

        vs = m.shell_command('kvq.efi read mem %X d' % (bar + 8)).strip()
        assert int(vs, 16) == 0x10400, vs  # NVMe 1.4

        out = m.shell_command('kvq.efi read mem 0x%X' % UNMAPPED)
        assert re.search(r'kvq: ADDRESS 7FFFFFFFF000 is not mapped', out), out
        assert m.shell_command('echo %lasterror%').strip() != '0x0'
        assert m.shell_command('echo still-here').strip() == 'still-here'

        # The Memory page on the controller's registers, then on the hole.
        m.send_text('kvq.efi\r')
        m.wait_for(r'Bus:00 Dev:00 Fun:00', 60)
        m.wait_quiet(0.5)
        m.send_keys('F6', 'Down', 'Enter')
        m.wait_for(r'Memory Address: 00000000', 20)
        m.send_keys('P', pause=0.3)
        m.send_text('%X\r' % bar, pause=0.05)
        m.wait_for(r'Memory Address: %016X' % bar, 20)
        m.wait_quiet(0.5)
        assert m.row(2)[3 + 3 * 8:3 + 3 * 12] == '00 04 01 00 ', m.row(2)

        m.send_keys('P', pause=0.3)
        m.send_text('%X\r' % UNMAPPED, pause=0.05)
        m.wait_for(r'Memory Address: %016X' % UNMAPPED, 20)
        m.wait_quiet(0.5)
        assert m.row(2)[3:51] == '-- ' * 16, m.row(2)
        assert m.row(19)[33:37] == '0x--', m.row(19)
        # Still live: the cursor moves, the address line follows, and Esc
        # returns to the Shell.
        m.send_keys('Down')
        m.wait_for(lambda mm: '0x00007FFFFFFFF010 ->' in mm.row(19), 10)
        t = harness.time.monotonic()
        idle = m.quiet_bytes(3)
        report('x64 console bytes in 3 s idle on an unmapped page', idle)
        assert idle == 0, idle
        m.send_keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30, since=len(m.raw) - 1)
        assert harness.time.monotonic() - t < 60


if __name__ == '__main__':
    harness.main(test_memory_above_4g_and_unmapped)
