#!/usr/bin/python3
"""x64: the SMBIOS page shows QEMU's identification strings of our own behind
an SMBIOS 3 entry point (whose anchor the Memory page shows at the TAG
address), sends nothing while idle and answers F6 at once; the PCH Strap page
lists its 21 straps; the HELP box stands alone, the keys it leaves out below
it."""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402

LONG = 'Planar with a name far longer than the page has room for'

SMBIOS_ARGS = [
    '-smbios', 'type=0,vendor=Acme BIOS Works,version=V1.23 beta,date=12/31/2024',
    '-smbios', 'type=1,manufacturer=Acme Boards,product=Q35 Test Rig,version=Rev C,serial=SN-0042,sku=SKU-7',
    '-smbios', 'type=2,manufacturer=Acme Planar,product=%s,version=1.0A,serial=BSN-9' % LONG,
]

# The twelve lines, by row.
SMBIOS_LINES = {
    3: 'Type0_Vendor_Name       : Acme BIOS Works',
    4: 'Type0_BIOS_Version      : V1.23 beta',
    5: 'Type0_BIOS_Build_Date   : 12/31/2024',
    7: 'Type1_Manufacturer_Name : Acme Boards',
    8: 'Type1_Product_Name      : Q35 Test Rig',
    9: 'Type1_Version           : Rev C',
    10: 'Type1_Serial_Number     : SN-0042',
    11: 'Type1_SKU_Number        : SKU-7',
    13: 'Type2_Manufacturer_Name : Acme Planar',
    14: 'Type2_Product_Name      : ' + LONG[:49],
    15: 'Type2_Version           : 1.0A',
    16: 'Type2_Serial_Number     : BSN-9',
}

BLUE_ON_GRAY = ('blue', 'white', False)


def open_other(m, item, row0):
    """Opens item 1..4 of the OTHER column from any page."""
    m.keys('F6')
    wait_row(m, 0, r'^ DEVICES    OTHER ')
    m.keys(*(['Right'] + ['Down'] * (item - 1) + ['Enter']))
    wait_row(m, 0, row0)
    m.wait_quiet(0.5)


def check_smbios_page(m):
    """The twelve lines and the two addresses; returns the TAG address."""
    tag = re.match(r'^SMBIOS TAG Address   : 0x([0-9A-F]{8}) *$', m.row(0))
    assert tag, m.row(0)
    assert re.match(r'^SMBIOS Entry Address : 0x[0-9A-F]{8} *$', m.row(1)), m.row(1)
    for row in range(2, 24):
        assert m.row(row).rstrip() == SMBIOS_LINES.get(row, ''), (row, m.row(row))
    m.expect_attr(0, 3, 0x0F)
    return tag.group(1)


def answers_f6_within_a_second(m):
    t0 = time.monotonic()
    m.send_keys('F6', pause=0)
    m.wait_for(lambda mm: mm.row(0).startswith(' DEVICES    OTHER '), 5)
    return time.monotonic() - t0


def check_anchor(m, tag, anchor):
    """From the menu, the Memory page at the TAG address shows `anchor`."""
    m.keys('Left', 'Down', 'Enter')
    wait_row(m, 0, r'^Memory Address: ')
    m.keys('p', *tag)
    wait_row(m, 0, r'^Memory Address: %s' % tag)
    m.wait_quiet(0.5)
    hex_bytes = ' '.join('%02X' % ord(c) for c in anchor)
    assert m.grid_row(0x00).startswith(hex_bytes), m.grid_row(0x00)


def test_smbios_strap_and_help_pages():
    with Kvq('x64', extra=['-machine', 'smbios-entry-point-type=64'] + SMBIOS_ARGS) as m:
        m.start_kvq()
        open_other(m, 2, r'^SMBIOS TAG Address')
        tag = check_smbios_page(m)
        idle = m.idle_bytes(5)
        report('x64 SMBIOS page console bytes per idle second', '%.1f' % (idle / 5.0))
        assert idle == 0, idle
        dt = answers_f6_within_a_second(m)
        report('x64 SMBIOS page F6 to menu (s)', '%.2f' % dt)
        assert dt < 1.0, dt

        check_anchor(m, tag, '_SM3_')

        open_other(m, 4, r'^ {32}PCH Soft Straps')
        for i in range(21):
            assert m.row(2 + i).rstrip() == ' ' * 33 + '%02d:0x00000000' % i, m.row(2 + i)
        m.expect_attr(32, 0, 0x0A)
        m.expect_attr(33, 9, 0x0E)
        m.expect_attr(36, 9, 0x0F)
        assert m.row(24)[21:].startswith('KVQ 1.0.9 for UEFI Shell'), m.row(24)

        open_other(m, 1, r'^ *$')
        wait_row(m, 3, r'^ {31}KVQ User Manual {19}')
        m.wait_quiet(0.5)
        assert m.row(5)[13:65] == " Tavik's Debug Utility Version 1.0.9 for UEFI Shell ", m.row(5)
        assert m.row(15)[13:65].rstrip() == ' Arrow/PageUp/PageDown Key to Move ...', m.row(15)
        assert m.cell_attrs(13, 3) == ('white', 'blue', True), m.cell_attrs(13, 3)
        for row in (4, 21):
            assert m.cell_attrs(13, row) == BLUE_ON_GRAY and m.cell_attrs(64, row) == BLUE_ON_GRAY, row
        for row in (0, 1, 2):
            assert m.row(row).strip() == '', (row, m.row(row))
        assert m.row(22).startswith(' P 64-bit address (Memory)   c next capability'), m.row(22)
        assert m.row(24).startswith(' Variables: / filter, Enter open, Esc back;'), m.row(24)
        assert m.row(10)[:13].strip() == '' and m.row(10)[65:].strip() == '', m.row(10)

        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)


if __name__ == '__main__':
    harness.main(test_smbios_strap_and_help_pages)
