#!/usr/bin/python3
"""x64: UEFI variables on OVMF. `kvq.efi dump vars` prints what the Shell's
`dmpstore -all` prints, line for line, and the Variables page lists the same
names, GUIDs, attributes and sizes; a variable made with `setvar` is edited
on the page and keeps the new byte across a `reset`; a write the firmware
refuses (PlatformLangCodes) names its status and changes nothing; `write
var` and `read var` work from the Shell; `kvq.efi undo` puts the variable
back, which dmpstore confirms; kvq-undo.txt holds the records.

One boot and one reset, on a real FAT disk image.
"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import report, shell_reset, wait_row  # noqa: E402
from test_x64_command_line import STARTUP  # noqa: E402  makes kvq's disk current

GUID = '4B56512D-0000-4E32-8000-0000000000E2'
NAME = 'KvqE2e'
# The Shell's own volatile variables change between two commands.
SHELL_GUID = '158DEF5A-F656-419C-B027-7A3192C079D2'
HEADER = re.compile(r"^Variable (\S+) '([^:']+):(.*)' DataSize = 0x([0-9A-F]+)$")


def records(text):
    """{(guid, name): (attributes, size, [lines])} of a dmpstore-layout text."""
    out = {}
    current = None
    for line in text.replace('\r\n', '\n').split('\n'):
        m = HEADER.match(line)
        if m:
            current = (m.group(2), m.group(3))
            out[current] = (m.group(1), int(m.group(4), 16), [])
        elif current and line.startswith('  '):
            out[current][2].append(line)
    return out


def variable_bytes(dmpstore_output):
    hexes = re.findall(r'^  [0-9A-F]{8}: (.{48})', dmpstore_output, re.M)
    return bytes.fromhex(''.join(h.replace('-', ' ') for h in hexes))


def prompt(m, since):
    m.wait_raw(harness.SHELL_PROMPT + r'$', 60, since=since)


def timed(m, cmd):
    t = time.monotonic()
    m.shell_command(cmd, timeout=120)
    return time.monotonic() - t


def page_rows(m, count):
    """Every row of the Variables list, PageDown by PageDown."""
    rows = {}
    for _ in range((count + 19) // 20):
        for r in range(1, 21):
            line = m.row(r)[:80]
            if line.strip():
                rows[(line[25:61].rstrip(), line[:24].rstrip())] = (line[62:73].rstrip(), int(line[74:80], 16))
        m.send_keys('PageDown')
        m.wait_quiet(0.3)
    return rows


def open_variable(m, name):
    m.send_keys('/', *name, 'Enter')
    wait_row(m, 1, '^' + re.escape(name) + ' ')
    m.send_keys('Enter')
    return wait_row(m, 0, r"^Variable \S+ '[^']*:" + re.escape(name) + "'")


def test_variables():
    image = harness.image_path('x64')
    assert image, 'build/x64/kvq.efi is missing: run make first'
    t0 = time.monotonic()
    with harness.Machine(arch='x64', image=image, startup=STARTUP, disk_image=True, time_limit=400,
                         key_pause=0.15) as m:
        m.boot_to_shell()
        m.wait_raw(r'kvq-disk-ready', 60)
        prompt(m, 0)
        m.shell_command('setvar %s -guid %s -nv -bs -rt =0102030405060708' % (NAME, GUID))
        m.shell_command('dmpstore -all >a dmp.txt', timeout=120)
        dump_time = timed(m, 'kvq.efi dump vars >a vars.txt')
        load = timed(m, 'kvq.efi -h >a help.txt')
        walks = timed(m, 'kvq.efi time vars 50 >a walks.txt')
        report('x64 kvq.efi dump vars >a vars.txt, s', '%.2f' % dump_time)
        report('x64 walk of the variable list with each GetVariable (50 walks less the load), ms per walk',
               '%.1f' % ((walks - load) * 1000 / 50))

        # The page: every row, then an edit and a refused write.
        m.send_text('kvq.efi\r')
        m.wait_for(r'Bus:00 Dev:00 Fun:00', 90)
        m.wait_quiet(0.5)
        m.send_keys('F6', 'Right', 'Down', 'Down', 'Down', 'Down', 'Down', 'Enter')
        count = int(wait_row(m, 22, r'VARIABLE : 0001/(\d{4})').group(1))
        m.wait_quiet(0.5)
        shown = page_rows(m, count)

        open_variable(m, NAME)
        assert m.row(0).startswith("Variable NV+RT+BS '%s:%s' DataSize = 0x08" % (GUID, NAME)), m.row(0)
        assert m.row(2).startswith('00 01 02 03 04 05 06 07 08 -- --'), m.row(2)
        m.send_keys('Enter', '5', 'a')
        wait_row(m, 18, r'^SetVariable: EFI_SUCCESS; offset 0 reads back 5A')
        assert m.row(2).startswith('00 5A 02 03'), m.row(2)
        m.send_keys('Esc')
        wait_row(m, 22, r'VARIABLE :')

        open_variable(m, 'PlatformLangCodes')
        before = m.row(2)[:51]
        m.send_keys('Enter', '0', '0')
        refused = wait_row(m, 18, r'^SetVariable refused: (EFI_\w+); the variable is as it was\.').group(1)
        report('x64 SetVariable of PlatformLangCodes answers', refused)
        assert m.row(2)[:51] == before, (before, m.row(2))
        m.send_keys('Esc')
        wait_row(m, 22, r'VARIABLE :')
        off = len(m.raw)
        m.send_keys('Esc')
        prompt(m, off)

        edited = variable_bytes(m.shell_command('dmpstore %s -guid %s' % (NAME, GUID)))
        assert edited == bytes([0x5A, 2, 3, 4, 5, 6, 7, 8]), edited
        assert m.shell_command('kvq.efi write var %s %s 1 77' % (NAME, GUID.lower())).strip() == '77'
        assert m.shell_command('kvq.efi read var %s %s 0 w' % (NAME, GUID)).strip() == '775A'
        out = m.shell_command('kvq.efi write var PlatformLangCodes EFIGlobalVariable 0 0')
        assert re.search(r'^kvq: EFIGlobalVariable:PlatformLangCodes: SetVariable refused', out, re.M), out
        assert m.shell_command('echo %lasterror%').strip() == '0x3'

        # The same variable store after a reset.
        report('x64 Shell reset to the prompt again, s', '%.1f' % shell_reset(m))
        kept = variable_bytes(m.shell_command('dmpstore %s -guid %s' % (NAME, GUID)))
        assert kept == bytes([0x5A, 0x77, 3, 4, 5, 6, 7, 8]), kept

        undone = m.shell_command('kvq.efi undo')
        assert m.shell_command('echo %lasterror%').strip() == '0x0', undone
        assert re.search(r'^%s:%s NV\+RT\+BS 0x08 bytes: put back$' % (GUID, NAME), undone, re.M), undone
        assert re.search(r'^EFIGlobalVariable:PlatformLangCodes RT\+BS 0x12 bytes: already as recorded$', undone,
                         re.M), undone
        back = variable_bytes(m.shell_command('dmpstore %s -guid %s' % (NAME, GUID)))
        assert back == bytes([1, 2, 3, 4, 5, 6, 7, 8]), back

        m.send_text('reset -s\r')
        m.wait_exit(30)
        dmp = m.disk_file('dmp.txt').decode('ascii')
        dump = m.disk_file('vars.txt').decode('ascii')
        undo_file = m.disk_file('kvq-undo.txt').decode('ascii')
    report('x64 variables e2e test (one boot and one reset), s', '%.1f' % (time.monotonic() - t0))

    shell, kvq = records(dmp), records(dump)
    report('x64 variables dmpstore -all lists', len(shell))
    assert len(shell) >= 50, len(shell)
    mine = lambda recs: {k for k in recs if k[0] != SHELL_GUID}  # noqa: E731
    assert mine(shell) == mine(kvq), mine(shell) ^ mine(kvq)
    for key in mine(shell):
        assert shell[key] == kvq[key], (key, shell[key], kvq[key])
    assert len(shown) == count and mine(shown) == mine(shell), mine(shown) ^ mine(shell)
    for key in mine(shell):
        assert shown[key] == shell[key][:2], (key, shown[key], shell[key][:2])

    # The first change to each variable in each run, recorded before it was
    # made (PlatformLangCodes's refused): the page's two, then each command's.
    heads = re.findall(r'^(var \S+ \S+ \S+ \S+ .*)\r$', undo_file, re.M)
    mine_head = 'var %s 00000007 00000000 00000008 %s' % (GUID, NAME)
    codes_head = 'var 8BE4DF61-93CA-11D2-AA0D-00E098032B8C 00000006 00000000 00000012 PlatformLangCodes'
    assert heads == [mine_head, codes_head, mine_head, codes_head], heads
    assert '\r\n  0102030405060708\r\n' in undo_file and '\r\n  5A02030405060708\r\n' in undo_file, undo_file


if __name__ == '__main__':
    harness.main(test_variables)
