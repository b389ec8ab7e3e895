#!/usr/bin/python3
"""x64: a pci.ids beside kvq.efi, read at start-up, renames the board's VGA
function (00:01.0, 1234:1111) on the PCIE page and in the PCI list, while
Intel and Realtek keep their built-in names. The file is the distribution's
pci.ids with our entry first, so the first frame is timed with a full-size
file."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402

OUR_ENTRY = b'1234  Bochs (kvq test)\n\t1111  Renamed VGA\n'
SYSTEM_PCI_IDS = '/usr/share/misc/pci.ids'


def pci_ids():
    try:
        with open(SYSTEM_PCI_IDS, 'rb') as f:
            return OUR_ENTRY + f.read()
    except OSError:
        return OUR_ENTRY


def test_pci_ids_beside_kvq_renames_a_device():
    data = pci_ids()
    with Kvq('x64', files={'pci.ids': data}) as m:
        m.start_kvq()
        report('x64 startup.nsh launch to first frame with a %d-byte pci.ids (s)' % len(data),
               '%.2f' % m.first_frame_after)
        assert m.row(18).startswith('Intel 82G33/G31/P35/P31 Express DRAM Controller'), m.row(18)

        m.keys('PageDown')
        wait_row(m, 0, r'^Bus:00 Dev:01 Fun:00')
        wait_row(m, 18, r'^Bochs \(kvq test\) Renamed VGA')

        m.keys('F5')
        m.wait_for(lambda mm: 'DEVICE : 001/007' in mm.row(27), 20)
        m.wait_quiet(0.5)
        assert m.row(2).rstrip() == '000 001 000 11111234 Bochs (kvq test) Renamed VGA', m.row(2)
        assert m.row(4).rstrip() == ('000 005 000 813910EC Realtek RTL-8100/8101L/8139 '
                                     'PCI Fast Ethernet Adapter'), m.row(4)
        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)


if __name__ == '__main__':
    harness.main(test_pci_ids_beside_kvq_renames_a_device)
