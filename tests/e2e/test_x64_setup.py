#!/usr/bin/python3
"""x64: OVMF's Setup forms. The Setup page lists "OVMF Platform
Configuration" with "Change Preferred Resolution for Next Boot", whose
options are the resolutions OVMF offers; picking 1024x768 there and a
`reset` bring the board back at 1024x768 (QEMU's screendump has the new
size) with "Preferred Resolution at Next Boot" showing it; `kvq.efi undo`
and a reset bring 1280x800 back. `kvq.efi dump setup >a` holds the
question, its options and its current value.

One boot and two resets, on a real FAT disk image, with QMP for the
screendumps.
"""

import os
import re
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import report, shell_reset, wait_row  # noqa: E402
from test_x64_command_line import STARTUP  # noqa: E402  makes kvq's disk current

sys.path.insert(0, os.path.join(harness.ROOT, 'tools', 'screenshot'))
from screenshot import Qmp  # noqa: E402

FORMSET = '7235C51C-0C80-4CAB-87AC-3B084A6304B1'
NEXT = 'Change Preferred Resolution for Next Boot'
CURRENT = 'Preferred Resolution at Next Boot'


def display_size(m, qmp, name):
    """The display's width and height, from the header of a PPM screendump."""
    path = os.path.join(m.workdir, name)
    qmp.command('screendump', filename=path)
    with open(path, 'rb') as f:
        fields = f.read(64).split()
    assert fields[0] == b'P6', fields
    return int(fields[1]), int(fields[2])


def prompt(m, since):
    m.wait_raw(harness.SHELL_PROMPT + r'$', 60, since=since)


def setup_page(m):
    """kvq from the Shell, on the Setup page filtered to OVMF's resolution."""
    m.send_text('kvq.efi\r')
    m.wait_for(r'Bus:00 Dev:00 Fun:00', 90)
    m.wait_quiet(0.5)
    m.send_keys('F6', 'Right', 'Down', 'Down', 'Down', 'Down', 'Down', 'Down', 'Enter')
    wait_row(m, 0, r'^SETUP: the firmware\'s forms')
    m.send_keys('/', *'Resolution', 'Enter')
    wait_row(m, 2, re.escape(CURRENT))
    assert m.row(1).startswith('[ OVMF Platform Configuration ]'), m.row(1)


def leave(m):
    off = len(m.raw)
    m.send_keys('Esc')
    prompt(m, off)


def value_of(dump, prompt_text):
    """The Value line of a question in a dump setup text."""
    block = dump[dump.index('"%s"' % prompt_text):]
    return re.search(r'^\s+Value (.*?)\r?$', block, re.M).group(1)


def test_setup():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    t0 = time.monotonic()
    workdir = tempfile.mkdtemp(prefix='kvq-e2e-')
    sock = os.path.join(workdir, 'qmp.sock')
    with harness.Machine(arch='x64', image=image, startup=STARTUP, disk_image=True, time_limit=400, key_pause=0.1,
                         workdir=workdir, extra=['-qmp', 'unix:%s,server=on,wait=off' % sock]) as m:
        qmp = Qmp(sock)
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        prompt(m, 0)
        assert display_size(m, qmp, 'before.ppm') == (1280, 800)
        t = time.monotonic()
        m.shell_command('kvq.efi dump setup >a before.txt', timeout=120)
        report('x64 kvq.efi dump setup >a before.txt, s', '%.2f' % (time.monotonic() - t))
        t = time.monotonic()
        m.shell_command('kvq.efi -h >a help.txt')
        load = time.monotonic() - t
        t = time.monotonic()
        m.shell_command('kvq.efi time setup 32 >a parses.txt', timeout=120)
        report('x64 export and parse of every package list (50 less the load), ms each',
               '%.1f' % ((time.monotonic() - t - load) * 1000 / 50))

        # The page: the options OVMF offers, and 1024x768 picked.
        setup_page(m)
        m.send_keys('Down', 'Down')
        wait_row(m, 18, r'^MainFormState offset 20 width 4 default none: You can specify')
        assert NEXT in m.row(3) and m.row(3)[45:69].strip() == '1280x800', m.row(3)
        m.send_keys('Enter')
        wait_row(m, 2, r'Enter: take this option')
        options = [m.row(r)[21:51].strip() for r in range(3, 16)]
        assert options[:8] == ['1280x800', '640x480', '800x480', '800x600', '832x624', '960x640', '1024x600',
                               '1024x768'], options
        m.send_keys(*['Down'] * 7, 'Enter')
        wait_row(m, 18, r'^RouteConfig: EFI_SUCCESS; it reads back 0x7')
        assert m.row(3)[45:69].strip() == '1024x768', m.row(3)
        leave(m)

        report('x64 Shell reset to the prompt, s', '%.1f' % shell_reset(m))
        assert display_size(m, qmp, 'after.ppm') == (1024, 768)
        m.shell_command('kvq.efi dump setup >a after.txt', timeout=120)

        undone = m.shell_command('kvq.efi undo')
        assert re.search(r'^setup %s MainFormState at 20: put back$' % FORMSET, undone, re.M), undone
        shell_reset(m)
        assert display_size(m, qmp, 'undone.ppm') == (1280, 800)
        m.shell_command('kvq.efi dump setup >a undone.txt', timeout=120)

        m.send_text('reset -s\r')
        m.wait_exit(30)
        before = m.disk_file('before.txt').decode('ascii')
        after = m.disk_file('after.txt').decode('ascii')
        undone_dump = m.disk_file('undone.txt').decode('ascii')
        parses = m.disk_file('parses.txt').decode('ascii')
        undo_file = m.disk_file('kvq-undo.txt').decode('ascii')

    # The dump: the question with its store, its options and its value.
    assert re.search(r'^      OneOf "%s" \(question 0x2\)\r\n' % NEXT, before, re.M), before[:2000]
    assert 'Store "MainFormState" %s offset 0x20 width 4' % FORMSET in before
    assert '        Option 0x7 = "1024x768"' in before
    assert value_of(before, NEXT) == '0x0 = "1280x800"', value_of(before, NEXT)
    assert value_of(before, CURRENT) == '"Unset"', value_of(before, CURRENT)
    assert value_of(after, CURRENT) == '"1024x768"', value_of(after, CURRENT)
    assert value_of(undone_dump, CURRENT) == '"1280x800"', value_of(undone_dump, CURRENT)
    assert undo_file == ('setup %s 00000000 00000020 00000004 MainFormState\r\n  00000000\r\n' % FORMSET), undo_file
    counts = re.search(r'(\d+) package lists, (\d+) bytes, (\d+) form sets, (\d+) questions', parses)
    report('x64 OVMF package lists, their bytes, form sets, questions', counts.group(0))
    shutil.rmtree(workdir, ignore_errors=True)
    report('x64 setup e2e test (one boot and two resets), s', '%.1f' % (time.monotonic() - t0))


if __name__ == '__main__':
    harness.main(test_setup)
