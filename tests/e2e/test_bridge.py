#!/usr/bin/python3
"""`make run`'s path: the user's xterm keys go through kvq-bridge and reach
the firmware as the keys they are; Ctrl-A X still quits QEMU; the terminal is
back in its normal mode afterwards.

Needs build/host/kvq-bridge (or $KVQ_BRIDGE); no kvq image.
"""

import os
import sys
import termios

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def canonical(fd):
    return bool(termios.tcgetattr(fd)[3] & termios.ICANON)


def test_xterm_keys_reach_the_shell_and_ctrl_a_x_quits():
    bridge = harness.bridge_path()
    assert os.access(bridge, os.X_OK), 'build kvq-bridge first (make host): ' + bridge
    with harness.Machine(arch='x64', image=None, bridge=bridge, time_limit=120,
                         key_pause=0.05) as m:
        m.boot_to_prompt()
        assert not canonical(m.tty), 'the bridge did not put the terminal in raw mode'

        # The Shell's line editor with keys as an xterm sends them: DEL for
        # Backspace, the VT220 Home/Delete, application-mode End. Typed
        # "xvrr" BS Left "e" Home Delete End Enter is "ver".
        offset = len(m.raw)
        m.send_raw(b'xvrr')
        for key in (b'\x7f', b'\x1b[D', b'e', b'\x1b[1~', b'\x1b[3~', b'\x1bOF', b'\r'):
            m.send_raw(key)
        m.wait_raw(r'\r\nUEFI Interactive Shell v2\.\d.*%s$' % harness.SHELL_PROMPT, 10,
                   since=offset)

        m.send_raw(b'\x01x')  # QEMU's serial mux: Ctrl-A X ends QEMU
        assert m.wait_exit(20) == 0
        assert canonical(m.tty), 'the bridge left the terminal in raw mode'


def test_kvq_takes_xterm_function_keys_through_the_bridge():
    """Without the bridge an xterm's F5 (ESC [ 1 5 ~) reaches the firmware as
    Esc and characters, and kvq would end; through it kvq opens its list."""
    from kvq_e2e import STARTUP
    bridge = harness.bridge_path()
    image = harness.image_path('x64')
    assert image, 'build the x64 image first (make)'
    with harness.Machine(arch='x64', image=image, startup=STARTUP, bridge=bridge,
                         time_limit=150, key_pause=0.3) as m:
        m.boot_to_app()
        m.wait_for(r'Bus:00 Dev:00 Fun:00', 90)
        m.send_raw(b'\x1b[15~')  # F5
        m.wait_for(r'BUS DEV FUN  DID VID NAME', 20)
        m.send_raw(b'\x1bOB')  # Down, application cursor mode
        m.wait_for(r'DEVICE : 002/007', 20)
        m.send_raw(b'\x1b[17~')  # F6
        m.wait_for(r'^ DEVICES    OTHER ', 20)
        m.send_raw(b'\x1b[C')  # Right
        m.wait_for(r'PCH Strap', 20)
        m.send_raw(b'\x1b')  # a lone Esc ends kvq
        m.wait_raw(harness.SHELL_PROMPT + r'$', 20)
        m.send_raw(b'\x01x')
        assert m.wait_exit(20) == 0


if __name__ == '__main__':
    harness.main(test_xterm_keys_reach_the_shell_and_ctrl_a_x_quits,
                 test_kvq_takes_xterm_function_keys_through_the_bridge)
