#!/usr/bin/python3
"""Pictures of kvq's pages as QEMU's display shows them, for the README.

    tools/screenshot/screenshot.py [--out docs]

Boots the x64 image (build it first with `make x64`) on the Q35 board that
`make run` starts, steps to a page with the keys of a row of SHOTS, and
saves what the VGA display shows with QEMU's screendump (a PNG) in --out.
The firmware draws kvq's console on the display as well as on the serial
port, so the picture is the text screen as a board's monitor shows it.
"""

import argparse
import json
import os
import shutil
import socket
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
import kvq_e2e  # noqa: E402

# File name, keys from the start-up page, text to wait for on the serial
# screen before the picture is taken.
SHOTS = [
    ('pcie-page.png', ['PageDown', 'PageDown'], r'Bus:00 Dev:04 Fun:00'),
]


class Qmp:
    """The smallest QMP client: one command at a time."""

    def __init__(self, path, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX)
                self.sock.connect(path)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        self.file = self.sock.makefile('rw')
        self._reply()  # greeting
        self.command('qmp_capabilities')

    def _reply(self):
        while True:
            msg = json.loads(self.file.readline())
            if 'event' not in msg:
                return msg

    def command(self, name, **args):
        self.file.write(json.dumps({'execute': name, 'arguments': args}) + '\n')
        self.file.flush()
        reply = self._reply()
        if 'error' in reply:
            raise RuntimeError('%s: %s' % (name, reply['error']))
        return reply.get('return')


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--out', default=os.path.join(ROOT, 'docs'))
    a = p.parse_args()
    os.makedirs(a.out, exist_ok=True)
    for name, keys, ready in SHOTS:
        workdir = tempfile.mkdtemp(prefix='kvq-shot-')
        sock = os.path.join(workdir, 'qmp.sock')
        with kvq_e2e.Kvq('x64', workdir=workdir, extra=['-qmp', 'unix:%s,server=on,wait=off' % sock]) as m:
            m.start_kvq()
            qmp = Qmp(sock)
            m.send_keys(*keys)
            m.wait_for(ready, 30)
            m.wait_quiet(1.0)
            # The display lags the serial port a little: let it catch up.
            time.sleep(2)
            path = os.path.join(a.out, name)
            qmp.command('screendump', filename=path, format='png')
            print('wrote', path)
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
