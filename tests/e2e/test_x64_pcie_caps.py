#!/usr/bin/python3
"""x64: the PCIE page's link line and capability list, c, and the C view,
on an e1000e behind a pcie-root-port (so that its link registers mean
something), checked against lspci -vv of kvq's own dump of the same board:
pciutils is the independent decoder. AER errors are injected through QEMU's
monitor: one before the dump, which both must name alike, and one while the
view is open, which it must show at once. Idle pages send nothing.
With SERR# set, Status keeps 4010h through byte writes to Command.
"""

import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import START_FRAME, report, wait_row  # noqa: E402
from test_x64_command_line import STARTUP, lspci  # noqa: E402

BOARD = ['-device', 'pcie-root-port,id=rp1,bus=pcie.0,addr=9,chassis=1', '-netdev', 'user,id=net2,restrict=on',
         '-device', 'e1000e,id=nic2,bus=rp1,addr=0,netdev=net2,romfile=,mac=52:54:00:AA:BB:03']


def monitor(qmp_path, command):
    """One HMP command through QMP."""
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(qmp_path)
        f = s.makefile('rw')
        f.readline()  # greeting
        for cmd in ({'execute': 'qmp_capabilities'},
                    {'execute': 'human-monitor-command', 'arguments': {'command-line': command}}):
            f.write(json.dumps(cmd) + '\n')
            f.flush()
            answer = {}
            while 'return' not in answer and 'error' not in answer:  # events come between
                answer = json.loads(f.readline())
            assert 'return' in answer, answer


def panel(m, function):
    """Rows 14 to 17 of the function the selector types in: bus, device and
    function, two decimal digits each."""
    m.send_keys('p', *function)
    wait_row(m, 0, r'^Bus:%s Dev:%s Fun:%s' % (function[:2], function[2:4], function[4:]))
    wait_row(m, 14, r'Link x')
    m.wait_quiet(0.5)
    return [m.row(r)[51:80].rstrip() for r in range(14, 18)]


def link_line(lspci_text):
    """The panel's link line, as lspci's LnkSta and LnkCap give it."""
    speed, width = re.search(r'LnkSta:\s+Speed ([\d.]+)GT/s[^,]*, Width x(\d+)', lspci_text).groups()
    max_speed, max_width = re.search(r'LnkCap:\s+Port #\d+, Speed ([\d.]+)GT/s, Width x(\d+)', lspci_text).groups()
    line = 'Link x%s %sGT/s of x%s %sGT/s' % (width, speed, max_width, max_speed)
    return line if len(line) <= 29 else 'Link x%s %s of x%s %sGT/s' % (width, speed, max_width, max_speed)


def check_panel(rows, lspci_text):
    assert rows[0] == link_line(lspci_text), (rows, lspci_text)
    offsets = re.findall(r'Capabilities: \[([0-9a-f]+)', lspci_text)
    assert [t.lower() for t in ' '.join(rows[1:]).split()[0::2]] == offsets, (rows, offsets)


def test_capabilities_against_lspci():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    qmp_dir = tempfile.mkdtemp(prefix='kvq-qmp-')
    qmp_path = os.path.join(qmp_dir, 'qmp.sock')
    with harness.Machine(arch='x64', image=image, startup=STARTUP, disk_image=True, time_limit=500,
                         key_pause=0.2, extra=BOARD + ['-qmp', 'unix:%s,server=on,wait=off' % qmp_path]) as m:
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
        monitor(qmp_path, 'pcie_aer_inject_error -c nic2 BAD_TLP')
        assert m.shell_command('kvq.efi write pci 01:00.0 05 01').strip() == '01'  # SERR#
        m.shell_command('kvq.efi dump pci >a pci.txt', timeout=120)

        m.send_text('kvq.efi\r')
        m.wait_for(START_FRAME, 90)
        nic_panel = panel(m, '010000')
        idle = m.quiet_bytes(5)
        report('x64 idle bytes in 5 s on the PCIE page of the e1000e behind the root port', idle)
        assert idle == 0, idle
        before = len(m.raw)
        m.send_keys('c')
        wait_row(m, 1, r'^A0 ')
        m.wait_quiet(0.5)
        report('x64 bytes for c, the cursor to the next capability', len(m.raw) - before)

        m.send_keys('C')
        wait_row(m, 23, r'^Lines 1-')
        m.wait_quiet(0.5)
        view = [m.row(r)[:80].rstrip() for r in range(25)]
        print('\n'.join(view), flush=True)
        idle = m.quiet_bytes(5)
        report('x64 idle bytes in 5 s in the capability view', idle)
        assert idle == 0, idle

        # An error latched while the view is open shows without a key.
        sent = time.monotonic()
        monitor(qmp_path, 'pcie_aer_inject_error nic2 UNSUP')
        m.wait_for(lambda mm: any('UESta: 00100000 UnsupReq' in mm.row(r) for r in range(2, 23)), 10)
        report('x64 AER error injected to shown in the view, s', '%.2f' % (time.monotonic() - sent))

        m.send_keys('Esc')
        wait_row(m, 0, r'^Bus:01 Dev:00 Fun:00', 10)
        wait_row(m, 7, r'PCI STS     : 4010', 10)
        command = re.search(r'PCI CMD     : ([0-9A-F]{4})', m.row(6)).group(1)
        m.send_keys(*['Up'] * 10 + ['Right'] * 4, pause=0.05)  # from A0h to Command's low byte
        wait_row(m, 1, r'^04 ', 10)
        m.send_keys('Enter', *command[2:].lower())
        m.wait_quiet(0.5)
        assert 'PCI CMD     : %s' % command in m.row(6), m.row(6)
        assert 'PCI STS     : 4010' in m.row(7), m.row(7)
        port_panel = panel(m, '000900')
        m.send_keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)
        m.shell_command('kvq.efi write pci 01:00.0 04 %s' % command[2:])
        assert m.shell_command('kvq.efi read pci 01:00.0 06 w').strip() == '4010'
        m.send_text('reset -s\r')
        m.wait_exit(30)
        dump = m.disk_file('pci.txt')
    os.rmdir(qmp_dir)

    with tempfile.NamedTemporaryFile(prefix='kvq-e2e-caps-', suffix='.txt') as f:
        f.write(dump)
        f.flush()
        nic, port = (lspci(f.name, '-vv', '-s', s) for s in ('01:00.0', '00:09.0'))
    check_panel(nic_panel, nic)
    check_panel(port_panel, port)

    # The view's DevCtl and AER lines say what lspci says of the same bytes.
    devctl = re.search(r'MaxPayload (\d+) bytes, MaxReadReq (\d+) bytes', nic).groups()
    assert '       DevCtl: MaxPayload %s bytes, MaxReadReq %s bytes' % devctl in view, view
    for label in ('UESta', 'CESta'):
        theirs = sorted(re.findall(r'(\w+)\+', re.search(label + r':\s+(.*)', nic).group(1)))
        ours = next(line for line in view if line.startswith('       %s: ' % label)).split()[2:]
        assert sorted(ours) == theirs, (label, ours, theirs)
    assert theirs == ['BadTLP'], theirs


if __name__ == '__main__':
    harness.main(test_capabilities_against_lspci)
