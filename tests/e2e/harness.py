"""End-to-end harness: kvq (or the UEFI Shell) on the QEMU Q35 board.

A Machine runs QEMU as tools/qemu/kvq-qemu.py builds it, with the serial
console on pipes. A reader thread feeds everything the firmware prints into a
pyte screen and counts the bytes with their arrival times; keys go in as the
PC-ANSI sequences the firmware's terminal driver decodes.

    with Machine(image='build/x64/kvq.efi') as m:
        m.boot_to_app()            # ends the Shell's countdown early
        m.wait_for(r'PCI Devices', 30)
        m.send_keys('Down', 'Enter')
        assert m.cell_attrs(0, 0) == ('white', 'blue', True)

Firmware terminal quirks handled here:
  * Output is PC-ANSI: box drawing and arrows come as CP437 bytes (0xC4,
    0xB3, 0x18 ...), not UTF-8; the stream is decoded as CP437, with the few
    glyphs CP437 puts in the C0 range (arrows, triangles) mapped back so pyte
    draws them instead of treating them as control codes.
  * SetMode sends ESC [ = 3 h, which pyte does not know and would print as
    "3h"; it is removed from the stream.
  * SetAttribute is ESC [ 0|1 m ESC [ 3x m ESC [ 4x m: the bright bit is
    bold, so an EFI_YELLOW foreground reads as ('brown', ..., True).
  * ClearScreen is ESC [ 2 J ESC [ 01;01 H and the firmware expects the
    terminal to fill with the current background. pyte 0.8 only re-colours
    cells that were written before; the screen class here fills them all.
  * EnableCursor(FALSE) sends nothing: the cursor cannot be hidden.
  * A lone ESC is taken as the Esc key only after the firmware's 2 s escape
    time-out, so send_keys() keeps the next key back until that has passed.

Tests are standalone scripts: harness.main(test_a, test_b) runs each, prints
a screen dump when one fails, and exits 0 or 1. QEMU is killed on every way
out: context exit, exception, per-machine time limit, interpreter exit and
SIGTERM/SIGINT/SIGHUP.
"""

import atexit
import codecs
import importlib.util
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

import pyte

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
LAUNCHER = os.path.join(ROOT, 'tools', 'qemu', 'kvq-qemu.py')


def load_launcher():
    found = importlib.util.spec_from_file_location('kvq_qemu', LAUNCHER)
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


launcher = load_launcher()

# The bytes the firmware's PC-ANSI terminal driver decodes for each key (the
# same table as encode_pc_ansi in platform/host/xterm_keys.cpp).
KEYS = {
    'Up': b'\x1b[A', 'Down': b'\x1b[B', 'Right': b'\x1b[C', 'Left': b'\x1b[D',
    'Home': b'\x1b[H', 'End': b'\x1b[F', 'Insert': b'\x1b[@', 'Delete': b'\x1b[X',
    'PageUp': b'\x1b[I', 'PageDown': b'\x1b[G',
    'F1': b'\x1b[M', 'F2': b'\x1b[N', 'F3': b'\x1b[O', 'F4': b'\x1b[P',
    'F5': b'\x1b[Q', 'F6': b'\x1b[R', 'F7': b'\x1b[S', 'F8': b'\x1b[T',
    'F9': b'\x1b[U', 'F10': b'\x1b[V',
    'Esc': b'\x1b', 'Enter': b'\r', 'Backspace': b'\x08', 'Tab': b'\t',
    'Space': b' ',
}

# The firmware waits this long for the rest of an escape sequence before it
# reports a lone ESC as the Esc key.
FIRMWARE_ESC_TIMEOUT = 2.0
ESC_PAUSE = FIRMWARE_ESC_TIMEOUT + 0.3

# The UEFI Shell prompt: "Shell> " before a file system is selected, else
# the current directory ("FS0:\> ").
SHELL_PROMPT = r'(?:Shell|FS\d+:\\[^>\r\n]*)> '

ANSI_RE = re.compile(r'\x1b\[[0-9;=?]*[A-Za-z@]')

# CP437 glyphs in the C0 range the firmware sends for arrows and triangles.
_C0_GLYPHS = {0x10: '\u25ba', 0x11: '\u25c4', 0x18: '\u2191', 0x19: '\u2193',
              0x1e: '\u25b2', 0x1f: '\u25bc'}
_C0_TABLE = {k: v for k, v in _C0_GLYPHS.items()}
_SET_MODE_RE = re.compile(r'\x1b\[=\d*[hl]')


class FirmwareScreen(pyte.Screen):
    """pyte screen that erases with the current background, as the
    firmware's ClearScreen expects (pyte 0.8 skips never-written cells)."""

    def erase_in_display(self, how=0, *args, **kwargs):
        if how == 0:
            rows = range(self.cursor.y + 1, self.lines)
        elif how == 1:
            rows = range(self.cursor.y)
        else:
            rows = range(self.lines)
        self.dirty.update(rows)
        for y in rows:
            line = self.buffer[y]
            for x in range(self.columns):
                line[x] = self.cursor.attrs
        if how in (0, 1):
            self.erase_in_line(how)


def strip_ansi(text):
    return ANSI_RE.sub('', text)


class MachineError(AssertionError):
    pass


_live = set()


def _kill_all():
    for m in list(_live):
        m.kill()


def _on_signal(sig, frame):
    _kill_all()
    signal.signal(sig, signal.SIG_DFL)
    os.kill(os.getpid(), sig)


atexit.register(_kill_all)
for _sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
    try:
        signal.signal(_sig, _on_signal)
    except (ValueError, OSError):  # not the main thread
        pass


class Machine:
    """One QEMU board with the console on pipes.

    arch: 'x64' or 'ia32'. image: the EFI application (None: an empty FAT
    disk, x64 then stays at the Shell). startup: startup.nsh text (x64).
    time_limit: QEMU is killed after this many seconds whatever happens.
    files: {name: bytes} put beside the image on the FAT disk.
    bridge: path of kvq-bridge to run QEMU through, on a pseudo-terminal as
    `make run` does; keys then go in xterm form (send_raw), not PC-ANSI.
    machine: the QEMU board, q35 or pc (i440FX).
    """

    def __init__(self, arch='x64', image=None, startup=None, vga=True,
                 extra=(), columns=100, lines=31, time_limit=300, key_pause=0.15,
                 workdir=None, bridge=None, files=None, disk_image=False, machine='q35'):
        self.arch = arch
        self.bridge = bridge
        self.key_pause = key_pause
        self._own_workdir = workdir is None
        self.workdir = workdir or tempfile.mkdtemp(prefix='kvq-e2e-')
        self.disk_image = os.path.join(self.workdir, 'disk.img') if disk_image else None
        self.cmd = launcher.build_command(arch, image, self.workdir, vga=vga,
                                          extra=extra, startup=startup,
                                          files=files, disk_image=disk_image,
                                          machine=machine)
        self.screen = FirmwareScreen(columns, lines)
        self.stream = pyte.Stream(self.screen)
        self.raw = bytearray()
        self.arrivals = []  # (monotonic time, byte count) per read
        self._decoder = codecs.getincrementaldecoder('cp437')()
        self._held = ''  # a possible start of ESC [ = 3 h, held back
        self._cond = threading.Condition()
        self._eof = False
        self._last_esc = None
        self.proc = None
        self.started = None
        self.time_limit = time_limit
        self.timed_out = False

    # -- lifetime -------------------------------------------------------

    def start(self):
        self.stderr_path = os.path.join(self.workdir, 'qemu-stderr.txt')
        self._stderr = open(self.stderr_path, 'wb')
        self.started = time.monotonic()
        if self.bridge:
            master, slave = pty.openpty()
            self.proc = subprocess.Popen([self.bridge, '--'] + self.cmd, stdin=slave,
                                         stdout=slave, stderr=self._stderr,
                                         start_new_session=True)
            os.close(slave)
            self.tty = self._in_fd = self._out_fd = master
        else:
            self.proc = subprocess.Popen(self.cmd, stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=self._stderr,
                                         start_new_session=True)
            self.tty = None
            self._in_fd = self.proc.stdin.fileno()
            self._out_fd = self.proc.stdout.fileno()
        _live.add(self)
        self._reader = threading.Thread(target=self._read_loop, daemon=True)
        self._reader.start()
        self._watchdog = threading.Timer(self.time_limit, self._time_up)
        self._watchdog.daemon = True
        self._watchdog.start()
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            print(self.dump(), file=sys.stderr)
        self.close()
        return False

    def _time_up(self):
        self.timed_out = True
        self.kill()

    def kill(self):
        p = self.proc
        if p is None:
            return
        # The whole session: with a bridge, QEMU is the leader's child.
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except OSError:
            pass
        p.wait()

    def close(self):
        if getattr(self, '_watchdog', None):
            self._watchdog.cancel()
        self.kill()
        _live.discard(self)
        if getattr(self, 'tty', None) is not None:
            os.close(self.tty)
            self.tty = None
        if getattr(self, '_stderr', None):
            self._stderr.close()
        if self._own_workdir and not os.environ.get('KVQ_E2E_KEEP'):
            shutil.rmtree(self.workdir, ignore_errors=True)

    def wait_exit(self, timeout=30):
        """Waits for QEMU to end by itself (the guest powered off)."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise MachineError('QEMU still running after %s s' % timeout)

    def stderr_text(self):
        try:
            with open(self.stderr_path, 'rb') as f:
                return f.read().decode('utf-8', 'replace')
        except OSError:
            return ''

    # -- output ---------------------------------------------------------

    def _read_loop(self):
        fd = self._out_fd
        while True:
            try:
                data = os.read(fd, 65536)
            except OSError:  # EIO: the pseudo-terminal's other side closed
                data = b''
            now = time.monotonic()
            with self._cond:
                if not data:
                    self._eof = True
                    self._cond.notify_all()
                    return
                self.raw += data
                self.arrivals.append((now, len(data)))
                self.stream.feed(self._filter(self._decoder.decode(data)))
                self._cond.notify_all()

    def _filter(self, text):
        text = self._held + text
        self._held = ''
        # Hold back a tail that may be the start of ESC [ = 3 h.
        tail = text.rfind('\x1b')
        if tail >= 0 and '\x1b[=3h'.startswith(text[tail:tail + 5]) and len(text) - tail < 5:
            self._held = text[tail:]
            text = text[:tail]
        return _SET_MODE_RE.sub('', text).translate(_C0_TABLE)

    def screen_text(self):
        with self._cond:
            return '\n'.join(self.screen.display)

    def row(self, n):
        with self._cond:
            return self.screen.display[n]

    def cell_attrs(self, col, row):
        """(fg, bg, bold) of a cell, in pyte's names ('white', 'blue', ...)."""
        with self._cond:
            c = self.screen.buffer[row][col]
            return (c.fg, c.bg, c.bold)

    def cursor(self):
        with self._cond:
            return (self.screen.cursor.x, self.screen.cursor.y)

    def text_since(self, offset):
        """Everything printed since raw byte `offset`, escape sequences removed."""
        with self._cond:
            data = bytes(self.raw[offset:])
        return strip_ansi(data.decode('cp437'))

    def wait_for(self, what, timeout=30):
        """Waits until the screen shows `what`: a regex (searched in
        screen_text()) or a predicate called with the Machine. Returns the
        match object or the predicate's value."""
        deadline = time.monotonic() + timeout
        if isinstance(what, str):
            rx = re.compile(what)

            def check():
                return rx.search('\n'.join(self.screen.display))
            desc = 'screen to show %r' % what
        else:
            def check():
                return what(self)
            desc = 'condition %s' % getattr(what, '__name__', what)
        with self._cond:
            while True:
                # Predicates may call the accessors, which take this same
                # (re-entrant) lock.
                result = check()
                if result:
                    return result
                left = deadline - time.monotonic()
                if left <= 0:
                    raise MachineError('timed out after %s s waiting for %s' % (timeout, desc))
                if self._eof:
                    raise MachineError('QEMU exited%s while waiting for %s'
                                       % (self._why_gone(), desc))
                self._cond.wait(min(left, 0.5))

    def wait_raw(self, pattern, timeout=30, since=0):
        """Waits for a regex in the raw output (escapes stripped) after byte
        offset `since`; returns the match."""
        rx = re.compile(pattern, re.S)
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                m = rx.search(strip_ansi(bytes(self.raw[since:]).decode('cp437')))
                if m:
                    return m
                left = deadline - time.monotonic()
                if left <= 0:
                    raise MachineError('timed out after %s s waiting for %r in the output'
                                       % (timeout, pattern))
                if self._eof:
                    raise MachineError('QEMU exited%s while waiting for %r'
                                       % (self._why_gone(), pattern))
                self._cond.wait(min(left, 0.5))

    def _why_gone(self):
        return (' (killed at the %s s time limit)' % self.time_limit) if self.timed_out else ''

    def bytes_since(self, t):
        """Bytes received at or after monotonic time t."""
        with self._cond:
            return sum(n for when, n in self.arrivals if when >= t)

    def quiet_bytes(self, seconds):
        """Sleeps `seconds` and returns the bytes received meanwhile (an idle
        application should send none)."""
        t = time.monotonic()
        time.sleep(seconds)
        return self.bytes_since(t)

    def last_output_time(self):
        with self._cond:
            return self.arrivals[-1][0] if self.arrivals else None

    def wait_quiet(self, quiet=0.5, timeout=30):
        """Waits until no output has arrived for `quiet` seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            last = self.last_output_time() or self.started
            idle = time.monotonic() - last
            if idle >= quiet:
                return
            time.sleep(quiet - idle)
        raise MachineError('output did not settle within %s s' % timeout)

    # -- input ----------------------------------------------------------

    def _write(self, data):
        if self._last_esc is not None:
            # Anything sent within the firmware's escape time-out would be
            # read as the rest of a sequence started by that ESC.
            left = self._last_esc + ESC_PAUSE - time.monotonic()
            if left > 0:
                time.sleep(left)
            self._last_esc = None
        try:
            while data:
                data = data[os.write(self._in_fd, data):]
        except OSError:
            raise MachineError('QEMU is gone; cannot send %r' % data)

    def send_raw(self, data, pause=None):
        """Sends bytes unchanged (xterm key sequences, through a bridge)."""
        self._write(data)
        time.sleep(self.key_pause if pause is None else pause)

    def send_keys(self, *names, pause=None):
        """Sends keys by name (see KEYS; a single character is itself), each
        followed by a short pause; Esc holds the next key back >2 s."""
        for name in names:
            data = KEYS.get(name)
            if data is None:
                if len(name) != 1:
                    raise ValueError('unknown key %r' % name)
                data = name.encode('latin-1')
            self._write(data)
            if data == b'\x1b':
                self._last_esc = time.monotonic()
            else:
                time.sleep(self.key_pause if pause is None else pause)

    def send_text(self, text, pause=0.0):
        """Types printable text (and \\r for Enter)."""
        for ch in text:
            self._write(ch.encode('latin-1'))
            if pause:
                time.sleep(pause)

    # -- UEFI Shell -----------------------------------------------------

    def boot_to_shell(self, timeout=60):
        """Waits for the Shell's startup.nsh countdown and ends it with a key
        (saves ~4 s): startup.nsh then runs at once, if there is one."""
        self.wait_raw(r'Press ESC in \d+ seconds', timeout)
        self.send_keys('Enter')

    def boot_to_prompt(self, timeout=60):
        """boot_to_shell, then waits for the prompt (no startup.nsh)."""
        offset = len(self.raw)
        self.boot_to_shell(timeout)
        self.wait_raw(SHELL_PROMPT + r'$', timeout, since=offset)

    def boot_to_app(self, timeout=60):
        """x64: ends the countdown so startup.nsh starts the image at once.
        ia32: the firmware boots the image by itself."""
        if self.arch == 'x64':
            self.boot_to_shell(timeout)

    def shell_command(self, cmd, timeout=60):
        """Types a Shell command, waits for the next prompt and returns the
        command's output (escape sequences removed, CR LF as \\n)."""
        offset = len(self.raw)
        self.send_text(cmd + '\r')
        rx = r'%s\r\n(.*?)(?:\r\n)*%s$' % (re.escape(cmd), SHELL_PROMPT)
        m = self.wait_raw(rx, timeout, since=offset)
        # The echo of each typed character comes with cursor moves: strip
        # them before matching, which wait_raw does.
        return m.group(1).replace('\r\n', '\n')

    def disk_file(self, name):
        """A file the guest wrote to the FAT disk image (disk_image=True):
        read it once the Shell has closed it, best after the guest is off."""
        return launcher.copy_from_disk_image(self.disk_image, name)

    # -- diagnostics ----------------------------------------------------

    def dump(self):
        with self._cond:
            lines = self.screen.display
            tail = bytes(self.raw[-600:])
        w = self.screen.columns
        out = ['+' + '-' * w + '+']
        out += ['|' + line + '|' for line in lines]
        out.append('+' + '-' * w + '+')
        out.append('cursor %s, %d bytes received' % (self.cursor(), len(self.raw)))
        out.append('last bytes: %r' % tail)
        err = self.stderr_text().strip()
        if err:
            out.append('QEMU stderr:\n' + err)
        return '\n'.join(out)


def main(*tests):
    """Runs test functions in order; exits 0 if all pass, 1 otherwise."""
    failed = 0
    for test in tests:
        t = time.monotonic()
        try:
            test()
        except Exception:
            failed += 1
            traceback.print_exc()
            print('FAIL %s (%.1f s)' % (test.__name__, time.monotonic() - t), flush=True)
        else:
            print('PASS %s (%.1f s)' % (test.__name__, time.monotonic() - t), flush=True)
    _kill_all()
    sys.exit(1 if failed else 0)


def bridge_path():
    """kvq-bridge as `make` builds it ($KVQ_BRIDGE overrides)."""
    return os.environ.get('KVQ_BRIDGE') or os.path.join(ROOT, 'build', 'host', 'kvq-bridge')


def image_path(arch):
    """The image the Makefile builds for `arch`, or None."""
    for name in ('kvq.efi', 'KVQ.EFI', 'kvq%s.efi' % arch):
        p = os.path.join(ROOT, 'build', arch, name)
        if os.path.isfile(p):
            return p
    return None
