#!/usr/bin/python3
"""x64: the loop that waits between passes keeps the screen live and the
keys quick: a cursor move shows within half a second, and the CMOS seconds
on the I/O page at 0070h change once a second."""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from kvq_e2e import Kvq, report, wait_row  # noqa: E402


def seconds_cell(m):
    """Port 71h, the CMOS data port, on the I/O page at 0070h."""
    return m.grid_row(0x00)[3:5]


def test_cursor_moves_at_once_and_the_clock_ticks_every_second():
    with Kvq('x64') as m:
        m.start_kvq()
        # The cursor's offset at (0, 1) follows each Right.
        delays = []
        for offset in (1, 2, 3):
            m.wait_quiet(0.5)
            sent = time.monotonic()
            m.send_keys('Right', pause=0)
            wait_row(m, 1, r'^%02X ' % offset, 5)
            delays.append(time.monotonic() - sent)
        report('x64 Right to the moved cursor on screen (s)', ' '.join('%.3f' % d for d in delays))
        assert sorted(delays)[1] < 0.5, delays

        # The I/O page on the CMOS clock, index 0 (seconds) selected.
        m.keys('F6')
        wait_row(m, 0, r'^ DEVICES ')
        m.keys('Left', 'Down', 'Down', 'Enter')
        wait_row(m, 0, r'^I/O Address : 0000')
        m.keys('p', '0', '0', '7', '0')
        wait_row(m, 0, r'^I/O Address : 0070')
        m.keys('Enter', '0', '0')
        m.wait_for(lambda mm: re.match(r'[0-5][0-9]$', seconds_cell(mm)), 5)
        seen = []  # (time, BCD seconds) at each change
        last = seconds_cell(m)
        while len(seen) < 4:
            m.wait_for(lambda mm: seconds_cell(mm) != last, 3)
            changed = time.monotonic()
            time.sleep(0.1)  # both digits: the serial line may split them
            last = seconds_cell(m)
            seen.append((changed, last))
        steps = [b - a for (a, _), (b, _) in zip(seen, seen[1:])]
        report('x64 seconds between CMOS seconds changes on screen', ' '.join('%.2f' % s for s in steps))
        for (_, a), (_, b) in zip(seen, seen[1:]):
            assert (int(a) + 1) % 60 == int(b), seen
        assert all(0.7 < s < 1.3 for s in steps), steps

        m.keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)


if __name__ == '__main__':
    harness.main(test_cursor_moves_at_once_and_the_clock_ticks_every_second)
