#!/usr/bin/python3
"""x64 with two processors: the MSR commands and the CPUID dump from the
Shell, then the CPU page.

- `dump cpuid >a` writes a file that the host's `cpuid -f` decodes, naming
  the vendor the CPU page names; `read msr 1b` gives the APIC base;
  `write msr 6e1 100000000` is refused (#GP) with status 0x3 and the MSR
  keeps its value; `write msr 1b` without confirm is refused with status
  0x2; `time msr` gives the cost of one guarded read.
- On the page, MSR 1Bh has the BSP flag (bit 8) on CPU 0 and not on CPU 1;
  a value typed for 1Bh asks first, and n leaves the APIC base as it was
  (1Bh is never written here: with the enable bit clear the board stops);
  on each processor a write of 1_0000_0000h to IA32_PKRS (6E1h), which
  QEMU's TCG refuses with #GP for bits 63:32, is reported on row 18 with the
  MSR unchanged, and kvq stays live; a write of 5 reads back, and 0 is
  written back. (TCG reads every MSR it does not implement as 0, so no read
  faults on this board.) Row moves on CPU 1 are timed against CPU 0's.
- After Esc, the Shell's `mode` stars the mode it starred before kvq.
"""

import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import START_FRAME, report, wait_row  # noqa: E402
from test_x64_command_line import STARTUP  # noqa: E402

HEADER_CPU0 = r'^MSR Base: [0-9A-F]{8}  CPU 0 of 2 +AuthenticAMD  Family 0Fh Model 6Bh Stepping 1'
PKRS_REFUSED = '#GP: the processor refused 0000000100000000 for MSR 000006E1; it is unchanged.'
TIMED_READS = 20000

def timed(m, cmd):
    t = time.monotonic()
    out = m.shell_command(cmd, timeout=300)
    return out, time.monotonic() - t

def commands(m):
    assert m.shell_command('kvq.efi read msr 1b').strip() == '00000000FEE00900'
    out = m.shell_command('kvq.efi write msr 6e1 100000000')
    assert out.strip() == 'kvq: MSR 000006E1: the processor refused the access (#GP)', out
    assert m.shell_command('echo %lasterror%').strip() == '0x3'
    assert m.shell_command('kvq.efi read msr 6e1').strip() == '0000000000000000'
    out = m.shell_command('kvq.efi write msr 1b fee00900')
    assert 'add confirm to write it' in out, out
    assert m.shell_command('echo %lasterror%').strip() == '0x2'
    _, dump = timed(m, 'kvq.efi dump cpuid >a cpuid.txt')
    report('x64 Shell command "kvq.efi dump cpuid >a cpuid.txt" on 2 CPUs, s', '%.2f' % dump)
    # One guarded read: COUNT reads less one read, over COUNT - 1.
    _, one = timed(m, 'kvq.efi time msr 1b 1')
    _, many = timed(m, 'kvq.efi time msr 1b %d' % TIMED_READS)
    report('x64 one guarded rdmsr (handler installed and removed around it), us',
           '%.1f' % ((many - one) / (TIMED_READS - 1) * 1e6))

def key_to_settled(m, *keys):
    """Seconds from the first key sent to the last byte of the answer."""
    m.wait_quiet(0.5)
    offset = len(m.raw)
    sent = time.monotonic()
    m.send_keys(*keys, pause=0.01)
    m.wait_for(lambda mm: len(mm.raw) > offset, 10)
    m.wait_quiet(0.5)
    return m.last_output_time() - sent

def row_moves(m):
    """Milliseconds, the median of five Down and five Up keys: the cursor
    ends on the row it started on."""
    times = sorted(key_to_settled(m, key) for key in ['Down'] * 5 + ['Up'] * 5)
    return 1000 * (times[4] + times[5]) / 2

def write_msr(m, digits):
    m.send_keys('Enter', *digits)

def pkrs_writes(m, cpu):
    m.send_keys('p', *'000006E1')
    wait_row(m, 2, r'^000006E1  0000000000000000  IA32_PKRS')
    write_msr(m, '0000000100000000')
    wait_row(m, 18, '^' + re.escape(PKRS_REFUSED))
    assert m.row(2).startswith('000006E1  0000000000000000'), (cpu, m.row(2))
    # Still live: the page takes keys and reads the MSR the next pass.
    write_msr(m, '0000000000000005')
    wait_row(m, 2, r'^000006E1  0000000000000005  IA32_PKRS')
    m.wait_for(lambda mm: mm.row(18).strip() == '', 10)
    write_msr(m, '0' * 16)
    wait_row(m, 2, r'^000006E1  0000000000000000  IA32_PKRS')

def current_mode(m):
    """The mode the Shell's `mode` stars, as (columns, rows)."""
    out = m.shell_command('mode')
    found = re.search(r'Col\s+(\d+)\s+Row\s+(\d+)\s*\*', out)
    assert found, out
    return found.groups()

def cpu_page(m):
    m.send_text('kvq.efi\r')
    m.wait_for(START_FRAME, 90)
    m.wait_quiet(0.5)
    m.send_keys('F6', 'Left', 'Down', 'Down', 'Down', 'Down', 'Enter')
    wait_row(m, 0, HEADER_CPU0, 30)
    wait_row(m, 1, r'^QEMU Virtual CPU version 2\.5\+ +Microcode 01000065')
    vendor = re.search(r'CPU \d+ of \d+ +(\S+)', m.row(0)).group(1)
    cpu0 = row_moves(m)
    report('x64 CPU page: Down/Up key to screen settled (median), ms', '%.0f' % cpu0)
    m.send_keys('p', *'0000001B')
    wait_row(m, 2, r'^0000001B  00000000FEE00900  IA32_APIC_BASE')
    # Row 0 is 1Bh: a value typed there asks first, and n writes nothing.
    write_msr(m, '0' * 16)
    wait_row(m, 18, r'^MSR 0000001B: .* y to write')
    m.send_keys('n')
    wait_row(m, 18, r'^Cancelled: nothing written to MSR 0000001B\.')
    wait_row(m, 2, r'^0000001B  00000000FEE00900  IA32_APIC_BASE')
    pkrs_writes(m, 0)

    t = key_to_settled(m, '>')
    report('x64 CPU page: > to CPU 1, key to screen settled, ms', '%.0f' % (t * 1000))
    wait_row(m, 0, r'CPU 1 of 2 +AuthenticAMD')
    m.send_keys('p', *'0000001B')
    wait_row(m, 2, r'^0000001B  00000000FEE00800  IA32_APIC_BASE')
    cpu1 = row_moves(m)
    report('x64 CPU page on CPU 1: Down/Up key to screen settled (median), ms', '%.0f' % cpu1)
    report('x64 CPU page: CPU 1 row move over CPU 0 row move', '%.1f' % (cpu1 / max(cpu0, 1)))
    pkrs_writes(m, 1)
    m.send_keys('<')
    wait_row(m, 0, HEADER_CPU0)
    idle = m.quiet_bytes(5)
    report('x64 idle bytes in 5 s on the CPU page', idle)
    assert idle == 0, idle
    m.send_keys('Esc')
    m.wait_raw(harness.SHELL_PROMPT + r'$', 20)
    return vendor

def test_cpu_commands_and_page():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    with harness.Machine(arch='x64', image=image, startup=STARTUP, disk_image=True, time_limit=500,
                         key_pause=0.1, extra=['-smp', '2']) as m:
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
        commands(m)
        shell_mode = current_mode(m)
        page_vendor = cpu_page(m)
        assert current_mode(m) == shell_mode, shell_mode
        assert m.shell_command('kvq.efi read msr 1b').strip() == '00000000FEE00900'
        m.send_text('reset -s\r')
        m.wait_exit(30)
        dump = m.disk_file('cpuid.txt')

    with tempfile.NamedTemporaryFile(prefix='kvq-e2e-cpuid-', suffix='.txt') as f:
        f.write(dump)
        f.flush()
        decoded = subprocess.run(['cpuid', '-f', f.name], check=True, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True).stdout
    assert dump.startswith(b'CPU 0:\r\n   0x00000000 0x00: eax=0x0000000d ebx=0x68747541'), dump[:80]
    vendors = re.findall(r'^\s+vendor_id = "(\w+)"', decoded, re.M)
    assert vendors == [page_vendor] * 2, (vendors, page_vendor)
    assert re.search(r'brand = "QEMU Virtual CPU version 2\.5\+"', decoded), decoded[:2000]
    assert re.search(r'^CPU 1:$', decoded, re.M), decoded[:200]

if __name__ == '__main__':
    harness.main(test_cpu_commands_and_page)
