#!/usr/bin/python3
"""Generate kvq's built-in PCI device name table from a pci.ids file.

Usage: gen_pci_names.py PCI_IDS OUTPUT

The output (normally data/pci_names_generated.cpp) is freestanding C++ that
defines kvq::pci_names::kGroups.  Three name groups are emitted, searched in
this order by the application:

  group 1: Intel (8086) devices, then Realtek (10EC) devices
  group 2: AMD/ATI (1002) devices
  group 3: Nvidia (10DE) devices

Each group lists every top-level device line of its vendor(s) (subsystem
lines are ignored) in ascending device ID.  A record's key is the dword read
from PCI config offset 0x00: device ID << 16 | vendor ID.  Identical names
are emitted once and shared by every record that uses them.

The output depends only on the contents of PCI_IDS: no timestamps and no
paths, so regenerating from the same pci.ids is byte-for-byte identical.
"""

import re
import sys
import unicodedata

# (vendor IDs in emission order, name prefix per vendor)
GROUPS = [
    [(0x8086, "Intel"), (0x10EC, "Realtek")],
    [(0x1002, "AMD")],
    [(0x10DE, "Nvidia")],
]

# Names our users expect where pci.ids words a device differently.  Keep this
# short; every entry needs a reason.  Keys are (vendor, device); values are
# the full displayed name including the vendor prefix.
OVERRIDES = {
    # Boards and documentation of the era call the NV1 "EDGE 3D"; older
    # pci.ids releases did too, newer ones say "STG2000X-B Series".
    (0x10DE, 0x0008): "Nvidia NV1 [EDGE 3D]",
}

# Characters that Unicode decomposition does not reduce to ASCII but that have
# an obvious ASCII spelling.  Anything else outside printable ASCII becomes
# '?'.
TRANSLIT = {
    "\u00df": "ss",   # sharp s
    "\u00d7": "x",    # multiplication sign
    "\u00b5": "u",    # micro sign
    "\u00ae": "(R)",
    "\u00a9": "(C)",
    "\u2122": "(TM)",
    "\u2010": "-", "\u2011": "-", "\u2012": "-", "\u2013": "-", "\u2014": "-",
    "\u2018": "'", "\u2019": "'", "\u201c": '"', "\u201d": '"',
    "\u00a0": " ",
    "\u00c6": "AE", "\u00e6": "ae", "\u00d8": "O", "\u00f8": "o",
    "\u0141": "L", "\u0142": "l",
}

VERSION_RE = re.compile(r"^#\s*Version:\s*(\S+)")
VENDOR_RE = re.compile(r"^([0-9A-Fa-f]{4})\s+(.*)$")
DEVICE_RE = re.compile(r"^\t([0-9A-Fa-f]{4})\s+(.*)$")

HEADER_COMMAND = ("/usr/bin/python3 tools/gen_pci_names.py "
                  "/usr/share/misc/pci.ids data/pci_names_generated.cpp")


def to_ascii(text):
    """Reduce text to printable 7-bit ASCII, deterministically."""
    out = []
    for ch in text:
        if ch == "\t":
            out.append(" ")
            continue
        if " " <= ch <= "~":
            out.append(ch)
            continue
        if ch in TRANSLIT:
            out.append(TRANSLIT[ch])
            continue
        decomposed = unicodedata.normalize("NFKD", ch)
        base = "".join(c for c in decomposed if not unicodedata.combining(c))
        if base and all(" " <= c <= "~" for c in base):
            out.append(base)
        else:
            out.append("?")
    return "".join(out)


def clean_name(text):
    return to_ascii(text).strip(" ")


def parse(path):
    """Return (version, {vendor: {device: raw name}}) for the vendors we use."""
    wanted = {vid for group in GROUPS for vid, _ in group}
    devices = {vid: {} for vid in wanted}
    version = None
    current = None
    with open(path, "rb") as f:
        data = f.read()
    # pci.ids is UTF-8 today; fall back byte-wise rather than fail on a
    # stray Latin-1 byte in some release.
    text = data.decode("utf-8", errors="replace")
    for line in text.splitlines():
        if version is None:
            m = VERSION_RE.match(line)
            if m:
                version = m.group(1)
                continue
        if not line or line.startswith("#"):
            continue
        if line.startswith("C "):
            break  # the device class list follows the vendor list
        m = VENDOR_RE.match(line)
        if m:
            vid = int(m.group(1), 16)
            current = vid if vid in wanted else None
            continue
        if current is None:
            continue
        m = DEVICE_RE.match(line)
        if m:
            did = int(m.group(1), 16)
            if did in devices[current]:
                raise SystemExit("duplicate device %04x:%04x in %s"
                                 % (current, did, path))
            devices[current][did] = m.group(2)
    if version is None:
        raise SystemExit("no 'Version:' line in " + path)
    return version, devices


def build(devices):
    """Return a list of groups, each a list of (vendor, device, name)."""
    used_overrides = set()
    groups = []
    for group in GROUPS:
        records = []
        for vid, prefix in group:
            for did in sorted(devices[vid]):
                raw = clean_name(devices[vid][did])
                if not raw:
                    raw = "Device %04x" % did
                name = clean_name(prefix + " " + raw)
                if (vid, did) in OVERRIDES:
                    name = OVERRIDES[(vid, did)]
                    used_overrides.add((vid, did))
                records.append((vid, did, name))
        groups.append(records)
    stale = sorted(set(OVERRIDES) - used_overrides)
    if stale:
        raise SystemExit("overrides for devices missing from pci.ids: "
                         + ", ".join("%04X:%04X" % k for k in stale))
    return groups


def c_string(text):
    out = []
    prev = ""
    for ch in text:
        if ch in "\\\"":
            out.append("\\" + ch)
        elif ch == "?" and prev == "?":
            out.append("\\?")  # never form a trigraph
        else:
            out.append(ch)
        prev = ch
    return '"' + "".join(out) + '"'


def render(version, groups):
    names = {}
    for records in groups:
        for _, _, name in records:
            if name not in names:
                names[name] = "n%d" % len(names)

    total = sum(len(r) for r in groups)
    lines = [
        "// Generated by tools/gen_pci_names.py -- do not edit.",
        "// Regenerate with:",
        "//   " + HEADER_COMMAND,
        "// Source: pci.ids Version: " + version,
        "// %d records, %d distinct names." % (total, len(names)),
        "",
        '#include "data/pci_names.h"',
        "",
        "namespace kvq::pci_names {",
        "namespace {",
        "",
    ]
    for name, ident in names.items():
        lines.append("constexpr char %s[] = %s;" % (ident, c_string(name)))
    for index, records in enumerate(groups):
        lines.append("")
        vendors = ", ".join("%04X" % v for v, _ in GROUPS[index])
        lines.append("// Group %d: vendor %s, %d records."
                     % (index + 1, vendors, len(records)))
        lines.append("constexpr NameRecord kGroup%d[] = {" % (index + 1))
        for vid, did, name in records:
            lines.append("    {0x%04X%04Xu, %s},"
                         % (did, vid, names[name]))
        lines.append("};")
    lines += [
        "",
        "}  // namespace",
        "",
        "constexpr NameGroup kGroups[kGroupCount] = {",
    ]
    for index in range(len(groups)):
        lines.append("    {kGroup%d, sizeof(kGroup%d) / sizeof(kGroup%d[0])},"
                     % ((index + 1,) * 3))
    lines += [
        "};",
        "",
        "}  // namespace kvq::pci_names",
        "",
    ]
    return "\n".join(lines)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: gen_pci_names.py PCI_IDS OUTPUT\n")
        return 2
    version, devices = parse(argv[1])
    groups = build(devices)
    text = render(version, groups)
    with open(argv[2], "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
