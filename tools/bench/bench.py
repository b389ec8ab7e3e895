#!/usr/bin/python3
"""What kvq costs: `make bench` prints one Markdown table.

    bench.py [--bench build/host/kvq-bench] [--window SECONDS] [--moves N]

The QEMU figures come from build/x64/kvq.efi, as the end-to-end tests run it.

Rows:
  * the time of one main loop pass of every page on the simulated board
    (kvq-bench, Google Benchmark);
  * from one run of kvq on QEMU's Q35 board (x64): the host CPU share of the
    QEMU process while kvq idles on each page of IDLE_PAGES, and at the
    Shell prompt after Esc; console bytes per idle second; bytes per cursor
    move; bytes and time for the whole first frame; the time from a key
    sent to the screen settled (no byte for SETTLE seconds), for a cursor
    move and for F5.

Absolute figures wander on a shared machine, so each QEMU figure also
carries its ratio to the Shell prompt's CPU share or to the first frame of
the same run, and the load average is printed before and after. This is a
benchmark: it never fails because the machine is slow.
"""

import argparse
import datetime
import json
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
import harness  # noqa: E402
from kvq_e2e import Kvq  # noqa: E402

# A quiet line for this long means the screen has settled.
SETTLE = 0.4

# Where the CPU share is measured while kvq idles: (row label, keys from the
# function tab menu, a regex for row 0 once the page shows). Add a row for
# each page worth watching; the keys start on the open menu.
IDLE_PAGES = [
    ('PCIE page', None, r'^Bus:00 Dev:00 Fun:00'),
    ('Memory page', ('Left', 'Down', 'Enter'), r'^Memory Address'),
    ('menu', (), r'^ DEVICES '),
]


def uptime():
    try:
        return subprocess.run(['uptime'], capture_output=True, text=True).stdout.strip()
    except OSError:
        return '(uptime unavailable)'


def sim_pass_times(bench):
    """{page name: microseconds per pass} from kvq-bench's JSON."""
    if not bench or not os.path.isfile(bench):
        print('kvq-bench not built (libbenchmark-dev missing?): no simulated-board rows', file=sys.stderr)
        return {}
    out = subprocess.run([bench, '--benchmark_format=json', '--benchmark_min_time=0.2'],
                         capture_output=True, text=True, check=True).stdout
    times = {}
    for b in json.loads(out)['benchmarks']:
        scale = {'ns': 1e-3, 'us': 1.0, 'ms': 1e3}[b['time_unit']]
        times[b['name'].split('/', 1)[1]] = b['real_time'] * scale
    return times


def cpu_seconds(pid):
    """User and system time of a process, all its threads, in seconds."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def idle_window(m, seconds):
    """(CPU share of QEMU, console bytes per second) over `seconds` of idle."""
    m.wait_quiet(SETTLE)
    c0, t0 = cpu_seconds(m.proc.pid), time.monotonic()
    n = m.quiet_bytes(seconds)
    c1, t1 = cpu_seconds(m.proc.pid), time.monotonic()
    return (c1 - c0) / (t1 - t0), n / (t1 - t0)


def key_to_settled(m, key):
    """(seconds from the key sent to the last byte before the screen
    settled, bytes sent in answer)."""
    m.wait_quiet(SETTLE)
    offset = len(m.raw)
    sent = time.monotonic()
    m.send_keys(key, pause=0)
    # The answer must start before the line can be called quiet.
    m.wait_for(lambda mm: len(mm.raw) > offset, 10)
    m.wait_quiet(SETTLE)
    return m.last_output_time() - sent, len(m.raw) - offset


def launch_point(m):
    """Raw offset just after the Shell's "kvq-launch" line, and when that
    line arrived."""
    with m._cond:
        end = bytes(m.raw).find(b'kvq-launch') + len('kvq-launch')
        while bytes(m.raw[end:end + 1]) in (b'\r', b'\n'):
            end += 1
        seen = 0
        for when, n in m.arrivals:
            seen += n
            if seen >= end:
                return end, when
    raise harness.MachineError('no kvq-launch line')


def qemu_figures(window, moves):
    rows = []  # (what, value text, ratio text)
    with Kvq('x64', time_limit=600) as m:
        m.start_kvq()
        m.wait_quiet(1.0)
        start, launched = launch_point(m)
        frame_bytes = len(m.raw) - start
        frame_time = m.last_output_time() - launched

        shares = []
        cpu, rate = idle_window(m, window)
        shares.append(('PCIE page', cpu))
        idle_rate = rate

        move = [key_to_settled(m, 'Right') for _ in range(moves)]
        move_time = statistics.median(t for t, _ in move)
        move_bytes = statistics.median(n for _, n in move)
        f5 = []
        for i in range(moves):
            if i:
                m.send_keys('F6')
                m.wait_for(lambda mm: mm.row(0).startswith(' DEVICES '), 20)
            f5.append(key_to_settled(m, 'F5'))
        f5_time = statistics.median(t for t, _ in f5)
        f5_bytes = statistics.median(n for _, n in f5)

        for name, keys, header in IDLE_PAGES[1:]:
            m.send_keys('F6')
            m.wait_for(lambda mm: mm.row(0).startswith(' DEVICES '), 20)
            if keys:
                m.send_keys(*keys)
            m.wait_for(header, 20)
            cpu, rate = idle_window(m, window)
            shares.append((name, cpu))
            idle_rate = max(idle_rate, rate)

        m.send_keys('Esc')
        m.wait_raw(harness.SHELL_PROMPT + r'$', 30)
        shell, _ = idle_window(m, window)

    def share_row(name, cpu):
        ratio = ('%.1f x Shell' % (cpu / shell)) if shell > 0 else '-'
        return ('QEMU CPU share, idle on the %s' % name, '%.1f %%' % (100 * cpu), ratio)

    rows += [share_row(name, cpu) for name, cpu in shares]
    rows.append(('QEMU CPU share, idle at the Shell prompt', '%.1f %%' % (100 * shell), '1.0 x Shell'))

    def of_frame(n):
        return '%.4f x first frame' % (n / frame_bytes) if frame_bytes else '-'

    def of_frame_time(t):
        return '%.2f x first frame' % (t / frame_time) if frame_time > 0 else '-'

    rows += [
        ('console bytes per idle second (worst of the idle pages)', '%.0f' % idle_rate, of_frame(idle_rate)),
        ('console bytes per cursor move (median of %d)' % moves, '%.0f' % move_bytes, of_frame(move_bytes)),
        ('console bytes for the whole first frame', '%d' % frame_bytes, '1 x first frame'),
        ('F5 to the PCI list: console bytes (median)', '%d' % f5_bytes, of_frame(f5_bytes)),
        ('first frame: Shell launch line to screen settled', '%.0f ms' % (1000 * frame_time), '1.00 x first frame'),
        ('cursor move: key sent to screen settled (median)', '%.0f ms' % (1000 * move_time), of_frame_time(move_time)),
        ('F5: key sent to screen settled (median)', '%.0f ms' % (1000 * f5_time), of_frame_time(f5_time)),
    ]
    return rows


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--bench', default=os.path.join(ROOT, 'build', 'host', 'kvq-bench'))
    p.add_argument('--window', type=float, default=6.0, help='seconds of each idle measurement')
    p.add_argument('--moves', type=int, default=9, help='cursor moves and F5 presses to time')
    a = p.parse_args(argv)

    before = uptime()
    rows = [('one pass, %s (simulated board)' % name, '%.1f us' % us, '-')
            for name, us in sim_pass_times(a.bench).items()]
    rows += qemu_figures(a.window, a.moves)
    after = uptime()

    print()
    print('kvq bench, %s; QEMU x64 %s' % (datetime.date.today().isoformat(),
                                         harness.launcher.default_accel().upper()))
    print('load before: %s' % before)
    print('load after:  %s' % after)
    print()
    width = max(len(r[0]) for r in rows)
    print('| %-*s | %12s | %-24s |' % (width, 'measure', 'value', 'ratio'))
    print('|-%s-|-%s:|-%s-|' % ('-' * width, '-' * 11, '-' * 24))
    for what, value, ratio in rows:
        print('| %-*s | %12s | %-24s |' % (width, what, value, ratio))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
