#!/usr/bin/python3
"""Generate kvq's built-in PCI device name table from a pci.ids file.

Usage: gen_pci_names.py PCI_IDS OUTPUT
       gen_pci_names.py --list PCI_IDS

The output (normally data/pci_names_generated.cpp) is freestanding C++ that
defines kvq::pci_names::kGroups and kvq::pci_names::kPackedNames.

kGroups holds three name groups, searched in this order by the application:

  group 1: Intel (8086) devices, then Realtek (10EC) devices
  group 2: AMD/ATI (1002) devices
  group 3: Nvidia (10DE) devices

Each group lists every top-level device line of its vendor(s) (subsystem
lines are ignored) in ascending device ID.  A record's key is the dword read
from PCI config offset 0x00: device ID << 16 | vendor ID.  Identical names
are emitted once and shared by every record that uses them.

kPackedNames holds every other vendor and its devices (about 350 KB of
names), packed to about 200 KB: records sorted by key and cut into blocks of
BLOCK_RECORDS; in a block each name keeps only what differs from the
previous name (front coding), and the rest is byte-pair coded with one
dictionary of CODES strings.  data/pci_other_names.h gives the layout.  --list prints every record of kPackedNames as plain text, one a
line, in the form the host program pci_names_dump prints what it unpacks,
so the two can be compared.

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

# Every other vendor's names come from pci.ids as they stand, with these
# additions for IDs pci.ids does not list.  Each needs a reason.
EXTRA_VENDORS = {
    # QEMU's (and Bochs') own vendor ID for its emulated display adapters;
    # it was never registered, so pci.ids leaves it out.
    0x1234: "QEMU",
}
EXTRA_DEVICES = {
    # QEMU's standard VGA (-device VGA), on every Q35 board kvq is tested on.
    (0x1234, 0x1111): "Standard VGA",
}

# Packing: records per block (a lookup unpacks at most one block), and the
# byte values free for dictionary codes: everything but the terminator 0 and
# the printable ASCII characters that names are made of.
BLOCK_RECORDS = 32
CODES = list(range(0x01, 0x20)) + list(range(0x7F, 0x100))
# A pair is coded only if it occurs this often: below that the dictionary
# entry costs more than it saves.
MIN_PAIR_COUNT = 4
# The unpacker's name buffer (kMaxPackedName in data/pci_other_names.h).
MAX_NAME = 255

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
    """Return (version, vendors, devices): {vendor: raw name} and
    {vendor: {device: raw name}} for every vendor in the file."""
    vendors = {}
    devices = {}
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
            current = int(m.group(1), 16)
            if current in vendors:
                raise SystemExit("duplicate vendor %04x in %s" % (current, path))
            vendors[current] = m.group(2)
            devices[current] = {}
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
    for group in GROUPS:
        for vid, _ in group:
            devices.setdefault(vid, {})
    return version, vendors, devices


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


def build_others(vendors, devices):
    """Every vendor outside GROUPS, and its devices, with cleaned names:
    two sorted lists of (key, name).  Device keys are vendor << 16 | device,
    so a vendor's devices are adjacent."""
    own = {vid for group in GROUPS for vid, _ in group}
    vendor_names = {}
    device_names = {}
    for vid, raw in vendors.items():
        if vid in own:
            continue
        name = clean_name(raw)
        if name:
            vendor_names[vid] = name
        for did, raw_device in devices[vid].items():
            name = clean_name(raw_device)
            if name:
                device_names[vid << 16 | did] = name
    for vid, name in EXTRA_VENDORS.items():
        vendor_names.setdefault(vid, name)
    for (vid, did), name in EXTRA_DEVICES.items():
        device_names.setdefault(vid << 16 | did, name)
    for name in list(vendor_names.values()) + list(device_names.values()):
        if len(name) > MAX_NAME:
            raise SystemExit("name longer than %d characters: %s"
                             % (MAX_NAME, name))
    return sorted(vendor_names.items()), sorted(device_names.items())


def front_code(records):
    """Cuts records into blocks; returns [(first key, [(key delta, shared
    prefix length, rest of the name)])]."""
    blocks = []
    for start in range(0, len(records), BLOCK_RECORDS):
        chunk = records[start:start + BLOCK_RECORDS]
        entries = []
        prev_key, prev_name = chunk[0][0], ""
        for key, name in chunk:
            shared = 0
            while (shared < len(prev_name) and shared < len(name)
                   and prev_name[shared] == name[shared]):
                shared += 1
            entries.append((key - prev_key, shared, name[shared:]))
            prev_key, prev_name = key, name
        blocks.append((chunk[0][0], entries))
    return blocks


def make_dictionary(texts):
    """Byte-pair coding: repeatedly gives the most frequent adjacent pair of
    symbols a free byte value.  Returns ({code: (first, second)}, coded
    texts).  Ties go to the smaller pair, so the result depends only on the
    input."""
    data = b"\0".join(t.encode("ascii") for t in texts)
    pairs = {}
    for code in CODES:
        counts = {}
        for a, b in zip(data, data[1:]):
            if a and b:
                counts[(a, b)] = counts.get((a, b), 0) + 1
        if not counts:
            break
        best = min(counts, key=lambda pair: (-counts[pair], pair))
        if counts[best] < MIN_PAIR_COUNT:
            break
        data = data.replace(bytes(best), bytes([code]))
        pairs[code] = best
    return pairs, data.split(b"\0")


def expand(code, pairs):
    if code not in pairs:
        return bytes([code])
    first, second = pairs[code]
    return expand(first, pairs) + expand(second, pairs)


def varint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def pack(vendor_records, device_records):
    """Returns (expansions, [vendor blocks], [device blocks]); a block is
    (first key, packed bytes)."""
    lists = [front_code(vendor_records), front_code(device_records)]
    rests = [rest for blocks in lists for _, entries in blocks
             for _, _, rest in entries]
    pairs, coded = make_dictionary(rests)
    coded = iter(coded)
    packed = []
    for blocks in lists:
        out = []
        for first, entries in blocks:
            data = bytearray()
            for delta, shared, _ in entries:
                data += varint(delta) + bytes([shared]) + next(coded) + b"\0"
            out.append((first, bytes(data)))
        packed.append(out)
    expansions = {code: expand(code, pairs) for code in pairs}
    return expansions, packed[0], packed[1]


def c_bytes(data):
    """A C string literal holding `data` exactly: printable characters as
    they are, everything else as three-digit octal escapes."""
    out = []
    prev = 0
    for byte in data:
        ch = chr(byte)
        if ch in "\\\"":
            out.append("\\" + ch)
        elif ch == "?" and prev == ord("?"):
            out.append("\\?")
        elif 0x20 <= byte <= 0x7E:
            out.append(ch)
        else:
            out.append("\\%03o" % byte)
        prev = byte
    return '"' + "".join(out) + '"'


def render_list(ident, what, blocks):
    lines = ["", "// %s: %d blocks." % (what, len(blocks)),
             "constexpr char k%sData[] =" % ident]
    starts = []
    offset = 0
    for first, data in blocks:
        starts.append(offset)
        offset += len(data)
        lines.append("    // 0x%08X" % first)
        for i in range(0, len(data), 64):
            lines.append("    " + c_bytes(data[i:i + 64]))
    starts.append(offset)
    lines[-1] += ";"
    lines.append("constexpr uint32_t k%sBlockKey[] = {" % ident)
    lines += wrap(["0x%08Xu" % first for first, _ in blocks])
    lines.append("};")
    lines.append("constexpr uint32_t k%sBlockStart[] = {" % ident)
    lines += wrap(["%du" % s for s in starts])
    lines.append("};")
    return lines


def wrap(items, per_line=8):
    return ["    " + ", ".join(items[i:i + per_line]) + ","
            for i in range(0, len(items), per_line)]


def render_packed(vendor_records, device_records):
    expansions, vendor_blocks, device_blocks = pack(vendor_records,
                                                    device_records)
    text = b""
    starts = []
    for code in range(256):
        starts.append(len(text))
        text += expansions.get(code, b"")
    starts.append(len(text))
    size = (len(text) + 2 * len(starts)
            + sum(len(d) + 8 for _, d in vendor_blocks + device_blocks))
    lines = [
        "",
        "// Every other vendor: %d vendor and %d device names, packed in "
        "%d bytes." % (len(vendor_records), len(device_records), size),
        "namespace {",
        "",
        "// Byte b of a packed name stands for kCodeText[kCodeStart[b] ..",
        "// kCodeStart[b + 1]), or for itself where that is empty.",
        "constexpr uint16_t kCodeStart[257] = {",
    ]
    lines += wrap(["%d" % s for s in starts], 16)
    lines.append("};")
    lines.append("constexpr char kCodeText[] =")
    for i in range(0, len(text), 64):
        lines.append("    " + c_bytes(text[i:i + 64]))
    lines[-1] += ";"
    lines += render_list("Vendor", "Vendor names by vendor ID", vendor_blocks)
    lines += render_list("Device", "Device names by vendor ID << 16 | "
                         "device ID", device_blocks)
    lines += [
        "",
        "}  // namespace",
        "",
        "constexpr PackedNames kPackedNames = {",
        "    .code_start = kCodeStart,",
        "    .code_text = kCodeText,",
        "    .vendors = {kVendorData, kVendorBlockKey, kVendorBlockStart, "
        "%d}," % len(vendor_blocks),
        "    .devices = {kDeviceData, kDeviceBlockKey, kDeviceBlockStart, "
        "%d}," % len(device_blocks),
        "};",
    ]
    return lines


def plain_list(vendor_records, device_records):
    lines = ["vendor %04X %s" % (key, name) for key, name in vendor_records]
    lines += ["device %04X:%04X %s" % (key >> 16, key & 0xFFFF, name)
              for key, name in device_records]
    return "\n".join(lines) + "\n"


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


def render(version, groups, others):
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
        '#include "data/pci_other_names.h"',
        "",
        "namespace kvq::pci_names {",
        "namespace {",
        "",
    ]
    # Every name once, NUL-terminated, in one array; a record holds its
    # name's offset there. One array instead of one per name spares the
    # alignment padding of thousands of small arrays, and a 32-bit offset is
    # half a 64-bit pointer.
    offsets = []
    at = 0
    for name in names:
        offsets.append(at)
        at += len(name.encode("ascii")) + 1
    lines.append("enum : uint32_t {")
    for (name, ident), offset in zip(names.items(), offsets):
        lines.append("  %s = %d," % (ident, offset))
    lines.append("};")
    lines.append("")
    lines.append("}  // namespace")
    lines.append("")
    lines.append("extern const char kNameText[] =")
    for name in names:
        lines.append("    %s \"\\0\"" % c_string(name))
    lines[-1] += ";"
    lines.append("")
    lines.append("namespace {")
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
    ]
    lines += render_packed(*others)
    lines += [
        "",
        "}  // namespace kvq::pci_names",
        "",
    ]
    return "\n".join(lines)


def main(argv):
    if len(argv) == 3 and argv[1] == "--list":
        _, vendors, devices = parse(argv[2])
        sys.stdout.write(plain_list(*build_others(vendors, devices)))
        return 0
    if len(argv) != 3:
        sys.stderr.write("usage: gen_pci_names.py PCI_IDS OUTPUT\n"
                         "       gen_pci_names.py --list PCI_IDS\n")
        return 2
    version, vendors, devices = parse(argv[1])
    groups = build(devices)
    text = render(version, groups, build_others(vendors, devices))
    with open(argv[2], "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
