"""What the kvq end-to-end tests share: starting kvq on the board, reading
its colours, moving its cell cursor."""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# kvq's attribute bytes as pyte sees them through the firmware's terminal:
# (foreground, background, bold); bright colours arrive as bold.
ATTR = {
    0x0F: ('white', 'black', True),
    0x07: ('white', 'black', False),
    0x0E: ('brown', 'black', True),
    0x0A: ('green', 'black', True),
    0x02: ('green', 'black', False),
    0x1F: ('white', 'blue', True),
    0x20: ('black', 'green', False),
    0x70: ('black', 'white', False),
    0x2F: ('white', 'green', True),
}

# startup.nsh that says when it launches kvq, to time the first frame.
STARTUP = """\
@echo -off
for %i in fs0 fs1 fs2 fs3 fs4 fs5 fs6 fs7
  if exist %i:\\kvq.efi then
    %i:
    echo kvq-launch
    kvq.efi
    goto done
  endif
endfor
:done
"""

START_FRAME = r'Bus:00 Dev:00 Fun:00'
E1000E_MAC = '52-54-00-AA-BB-01'
RTL8139_MAC = '52-54-00-AA-BB-02'


class Kvq(harness.Machine):
    """A board that boots straight into kvq."""

    def __init__(self, arch='x64', **kw):
        image = harness.image_path(arch)
        if image is None:
            raise harness.MachineError('build/%s/kvq.efi is missing: run make first' % arch)
        kw.setdefault('time_limit', 400)
        kw.setdefault('key_pause', 0.2)
        super().__init__(arch=arch, image=image, startup=STARTUP if arch == 'x64' else None, **kw)
        self.first_frame_after = None

    def start_kvq(self):
        if self.proc is None:
            self.start()
        self.boot_to_app()
        launched = None
        if self.arch == 'x64':
            self.wait_raw(r'kvq-launch', 60)
            launched = time.monotonic()
        self.wait_for(START_FRAME, 90)
        if launched is not None:
            self.first_frame_after = time.monotonic() - launched
        # The first frame arrives in pieces; let it finish.
        self.wait_for(lambda m: 'KVQ 1.0.9 for UEFI Shell' in m.row(24) or
                      'KVQ 1.0.9 for UEFI Shell' in m.row(29), 30)
        self.wait_quiet(0.5)
        return self

    def attr(self, col, row):
        return self.cell_attrs(col, row)

    def expect_attr(self, col, row, byte):
        got = self.cell_attrs(col, row)
        assert got == ATTR[byte], 'cell (%d, %d): %r, expected %r (0x%02X)' % (col, row, got, ATTR[byte], byte)

    def keys(self, *names):
        self.send_keys(*names)

    def to_offset(self, offset, width=1, start=0):
        """From the cell at offset `start` to the cell at `offset`, the short
        way round on the grid's wrap-around."""
        cells = 16 // width
        rows = (offset // 16 - start // 16) % 16
        cols = ((offset % 16) // width - (start % 16) // width) % cells
        keys = ['Down'] * rows if rows <= 8 else ['Up'] * (16 - rows)
        keys += ['Right'] * cols if cols <= cells // 2 else ['Left'] * (cells - cols)
        self.send_keys(*keys)

    def screen_settles(self, seconds=0.5):
        self.wait_quiet(seconds)

    def idle_bytes(self, seconds=5):
        self.wait_quiet(0.5)
        t0 = time.monotonic()
        off = len(self.raw)
        n = self.quiet_bytes(seconds)
        if n:
            with self._cond:
                print('unexpected output while idle:', [(round(t - t0, 3), k) for t, k in self.arrivals if t >= t0][:10], bytes(self.raw[off:off + 300]))
        return n

    def grid_row(self, offset):
        """The cells of the grid row that holds `offset`, as on the screen."""
        return self.row(2 + offset // 16)[3:51]


def report(name, value):
    """Measurements go to the test log, where the closing notes take them."""
    print('MEASURE %s: %s' % (name, value), flush=True)


def shell_reset(m, ready=r'kvq-disk-ready'):
    """The Shell's `reset`: the same board and variable store booted again,
    up to the prompt after startup.nsh printed `ready`. Returns the
    seconds it took."""
    off = len(m.raw)
    t = time.monotonic()
    m.send_text('reset\r')
    m.wait_raw(r'Press ESC in \d+ seconds', 90, since=off)
    m.send_keys('Enter')
    m.wait_raw(ready, 60, since=off)
    m.wait_raw(harness.SHELL_PROMPT + r'$', 60, since=off)
    return time.monotonic() - t


def wait_row(m, row, pattern, timeout=20):
    rx = re.compile(pattern)
    return m.wait_for(lambda mm: rx.search(mm.row(row)), timeout)
