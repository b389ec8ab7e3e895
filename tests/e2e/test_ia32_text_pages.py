#!/usr/bin/python3
"""IA-32: the SMBIOS page behind QEMU's default 2.x entry point with the same
strings as on x64, answering F6 at once; the PCH Strap page; the HELP box."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402
from test_x64_text_pages import (SMBIOS_ARGS, answers_f6_within_a_second, check_anchor,  # noqa: E402
                                 check_smbios_page, open_other)


def test_ia32_text_pages():
    with Kvq('ia32', extra=SMBIOS_ARGS) as m:
        m.start_kvq()
        open_other(m, 2, r'^SMBIOS TAG Address')
        tag = check_smbios_page(m)
        dt = answers_f6_within_a_second(m)
        report('ia32 SMBIOS page F6 to menu (s)', '%.2f' % dt)
        assert dt < 1.0, dt
        check_anchor(m, tag, '_SM_')

        open_other(m, 4, r'^ {32}PCH Soft Straps')
        assert m.row(2).rstrip() == ' ' * 33 + '00:0x00000000', m.row(2)
        assert m.row(22).rstrip() == ' ' * 33 + '20:0x00000000', m.row(22)

        open_other(m, 1, r'^ *$')
        wait_row(m, 3, r'^ {31}KVQ User Manual {19}')
        assert m.cell_attrs(64, 21) == ('blue', 'white', False), m.cell_attrs(64, 21)
        # Below the box, the keys the box has no room for.
        assert m.row(22).startswith(' P 64-bit address (Memory)'), m.row(22)


if __name__ == '__main__':
    harness.main(test_ia32_text_pages)
