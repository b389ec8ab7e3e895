#!/usr/bin/python3
"""Starts kvq on the QEMU Q35 board it is developed against.

    kvq-qemu.py --arch x64|ia32 --image PATH [--workdir DIR] [--print-cmd]
                [--bridge PATH] [--no-vga] [--accel A] [-- extra qemu args]

x64: OVMF with the UEFI Shell; the image is copied to the FAT disk as
kvq.efi, and startup.nsh runs it once the Shell's countdown ends (press any
key but Esc to end the countdown early).
ia32: the 32-bit OVMF build has no Shell; the image is the removable-media
boot loader \\EFI\\BOOT\\BOOTIA32.EFI.

The serial port is the console, multiplexed with the QEMU monitor on stdio:
Ctrl-A X quits, Ctrl-A C switches to the monitor. With --bridge the user's
xterm keys are translated to the PC-ANSI sequences the firmware decodes.

Importable (importlib, by path) by the end-to-end tests: see build_command().
"""

import argparse
import os
import shutil
import subprocess
import sys

OVMF_DIR = '/usr/share/OVMF'

FIRMWARE = {
    'x64': ('OVMF_CODE_4M.fd', 'OVMF_VARS_4M.fd'),
    # The only 32-bit build Debian ships is the Secure Boot one: it needs SMM
    # and a pflash that only SMM code may write. No keys are enrolled in its
    # variable store, so an unsigned image still boots.
    'ia32': ('OVMF32_CODE_4M.secboot.fd', 'OVMF32_VARS_4M.fd'),
}

# Fixed MACs so pages that show them are reproducible.
E1000E_MAC = '52:54:00:AA:BB:01'
RTL8139_MAC = '52:54:00:AA:BB:02'

# The Shell runs startup.nsh from the first file system that has one, but
# leaves the current directory unset, and the FAT disk is not always FS0 (a
# medium in the CD drive, or extra disks, come first). So look for kvq.efi on
# each mapped file system rather than trusting "fs0:".
STARTUP_NSH = """\
@echo -off
for %i in fs0 fs1 fs2 fs3 fs4 fs5 fs6 fs7
  if exist %i:\\kvq.efi then
    %i:
    kvq.efi
    goto done
  endif
endfor
echo kvq.efi not found on fs0..fs7
:done
"""


def kvm_usable():
    """KVM only helps when the CPU has VT-x/AMD-V and /dev/kvm is usable.

    Some hosts expose a /dev/kvm without either flag (a paravirtual KVM
    inside a VM): QEMU opens it, then stops with an emulation failure as soon
    as the firmware runs x87 code, so "kvm:tcg" does not fall back there.
    """
    if not os.access('/dev/kvm', os.R_OK | os.W_OK):
        return False
    try:
        with open('/proc/cpuinfo') as f:
            for line in f:
                if line.startswith('flags'):
                    flags = line.split(':', 1)[1].split()
                    return 'vmx' in flags or 'svm' in flags
    except OSError:
        pass
    return False


def default_accel():
    return os.environ.get('KVQ_QEMU_ACCEL') or ('kvm:tcg' if kvm_usable() else 'tcg')


def prepare_workdir(arch, workdir, image=None, startup=None, files=None):
    """Lays out the FAT folder and a writable copy of the variable store.

    image: the EFI application, or None for an empty disk (x64 then boots to
    the Shell prompt). startup: text of startup.nsh (x64 only); None writes
    the one that runs kvq.efi when there is an image, and none otherwise.
    files: {name: bytes} put in the image's own directory (a pci.ids).
    Returns (fat_dir, vars_path).
    """
    if arch not in FIRMWARE:
        raise ValueError('arch must be x64 or ia32')
    fat = os.path.join(workdir, 'fat')
    # Start from a clean folder: QEMU's fat: driver snapshots the tree at
    # start-up, and stale files (an old kvq.efi) would mislead.
    shutil.rmtree(fat, ignore_errors=True)
    os.makedirs(fat)
    if arch == 'x64':
        if image:
            shutil.copyfile(image, os.path.join(fat, 'kvq.efi'))
            if startup is None:
                startup = STARTUP_NSH
        if startup is not None:
            with open(os.path.join(fat, 'startup.nsh'), 'w', newline='\r\n') as f:
                f.write(startup)
    elif image:
        boot = os.path.join(fat, 'EFI', 'BOOT')
        os.makedirs(boot)
        shutil.copyfile(image, os.path.join(boot, 'BOOTIA32.EFI'))
    image_dir = fat if arch == 'x64' else os.path.join(fat, 'EFI', 'BOOT')
    for name, data in (files or {}).items():
        os.makedirs(image_dir, exist_ok=True)
        with open(os.path.join(image_dir, name), 'wb') as f:
            f.write(data)
    vars_path = os.path.join(workdir, 'vars.fd')
    # A fresh store each run: boot options and console settings left by an
    # earlier run would change what the board does.
    shutil.copyfile(os.path.join(OVMF_DIR, FIRMWARE[arch][1]), vars_path)
    os.chmod(vars_path, 0o644)
    return fat, vars_path


def make_disk_image(fat, image_path, size_kib=65536):
    """A real FAT disk image holding the files of the folder `fat`.

    QEMU's fat:rw: folder does not reliably write back files the guest
    writes (a Shell redirect came back as garbage); a real image does, and
    copy_from_disk_image() reads them out with mtools.
    """
    if os.path.exists(image_path):
        os.remove(image_path)
    subprocess.run(['mkfs.fat', '-C', image_path, str(size_kib)], check=True,
                   stdout=subprocess.DEVNULL)
    for name in sorted(os.listdir(fat)):
        subprocess.run(['mcopy', '-i', image_path, '-s', os.path.join(fat, name), '::/'],
                       check=True)
    return image_path


def copy_from_disk_image(image_path, name):
    """The bytes of file `name` in the image's root folder."""
    return subprocess.run(['mcopy', '-n', '-i', image_path, '::/' + name, '-'],
                          check=True, stdout=subprocess.PIPE).stdout


def qemu_args(arch, fat, vars_path, vga=True, accel=None, extra=(), disk=None, machine='q35'):
    """The QEMU command line for the board (list of strings). disk: a FAT
    disk image to use instead of the folder `fat`. machine: 'q35', or 'pc'
    (the i440FX board, for what kvq must not assume of a chipset)."""
    code = os.path.join(OVMF_DIR, FIRMWARE[arch][0])
    args = ['qemu-system-x86_64']
    if arch == 'ia32':
        machine += ',smm=on'
        args += ['-global', 'driver=cfi.pflash01,property=secure,value=on']
    # accel=kvm:tcg in -machine falls back to TCG when KVM cannot start;
    # the -accel option takes only one accelerator.
    machine += ',accel=' + (accel or default_accel())
    args += [
        '-machine', machine,
        '-m', '512',
        '-drive', 'if=pflash,format=raw,unit=0,readonly=on,file=' + code,
        '-drive', 'if=pflash,format=raw,unit=1,file=' + vars_path,
        # The fat: driver refuses read-only on the AHCI port.
        '-drive', 'format=raw,file=' + (disk or 'fat:rw:' + fat),
        # No default NIC: its iPXE ROM would add a network boot attempt.
        '-nic', 'none',
        # The NICs need a back end or QEMU warns they have no peer; a
        # restricted user-mode stack reaches nothing outside the guest.
        '-netdev', 'user,id=net0,restrict=on',
        '-device', 'e1000e,addr=4,netdev=net0,romfile=,mac=' + E1000E_MAC,
        '-netdev', 'user,id=net1,restrict=on',
        '-device', 'rtl8139,addr=5,netdev=net1,romfile=,mac=' + RTL8139_MAC,
        '-display', 'none',
        '-serial', 'mon:stdio',
        '-parallel', 'none',
        '-monitor', 'none',
    ]
    if not vga:
        # The standard VGA stays by default: real boards have one, it is
        # part of the PCI layout kvq shows (00:01.0, and its 16 MiB frame
        # buffer moves the other BARs), and the firmware then picks the
        # 100x31 text mode as on an 800x600 display. Its cost is that the
        # firmware draws every character into the frame buffer as well,
        # about 35-160 ms per full 100x31 screen under TCG, against 3-10 ms
        # with the serial terminal alone.
        args += ['-vga', 'none']
    args += list(extra)
    return args


def build_command(arch, image, workdir, vga=True, accel=None, extra=(),
                  startup=None, files=None, disk_image=False, machine='q35'):
    """prepare_workdir + qemu_args: the command that runs the board. With
    disk_image the FAT folder becomes a real image, workdir/disk.img."""
    fat, vars_path = prepare_workdir(arch, workdir, image, startup, files)
    disk = make_disk_image(fat, os.path.join(workdir, 'disk.img')) if disk_image else None
    return qemu_args(arch, fat, vars_path, vga=vga, accel=accel, extra=extra, disk=disk,
                     machine=machine)


def main(argv):
    extra = []
    if '--' in argv:
        i = argv.index('--')
        argv, extra = argv[:i], argv[i + 1:]
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--arch', choices=sorted(FIRMWARE), required=True)
    p.add_argument('--image', required=True, help='the kvq EFI application')
    p.add_argument('--workdir', help='where to build the FAT folder '
                   '(default: build/qemu-ARCH under the current directory)')
    p.add_argument('--print-cmd', action='store_true',
                   help='prepare the work folder, print the command, exit')
    p.add_argument('--bridge', help='run QEMU through this kvq-bridge')
    p.add_argument('--no-vga', dest='vga', action='store_false',
                   help='no display adapter: faster console output, but the '
                   'PCI layout differs from a real board')
    p.add_argument('--accel', help='QEMU accelerators, e.g. tcg or kvm:tcg '
                   '(default here: %s; $KVQ_QEMU_ACCEL overrides)' % default_accel())
    a = p.parse_args(argv)
    if not os.path.isfile(a.image):
        p.error('no such image: ' + a.image)
    workdir = os.path.abspath(a.workdir or os.path.join('build', 'qemu-' + a.arch))
    os.makedirs(workdir, exist_ok=True)
    cmd = build_command(a.arch, a.image, workdir, vga=a.vga, accel=a.accel, extra=extra)
    if a.print_cmd:
        print(' '.join(shell_quote(c) for c in cmd))
        return 0
    if a.bridge:
        cmd = [a.bridge, '--'] + cmd
    sys.stdout.flush()
    os.execvp(cmd[0], cmd)


def shell_quote(s):
    if s and all(c.isalnum() or c in '@%+=:,./-_' for c in s):
        return s
    return "'" + s.replace("'", "'\\''") + "'"


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
