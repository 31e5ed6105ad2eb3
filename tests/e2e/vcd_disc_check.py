#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Reads a Video CD 2.0 BIN/CUE image back on its own and checks it against the project
it was made from.

Independent of the program's code: the raw 2,352-byte sectors are read here (sync,
address, subheader, EDC), the ISO 9660 file system by pycdlib from a cooked copy of the
Form 1 sectors, the segment play items by ffprobe/ffmpeg from the Form 2 user data of
their extents, and INFO.VCD, ENTRIES.VCD, LOT.VCD, PSD.VCD and the extended files by our
own parser of their byte layouts. The playback graph is then walked as a player would:
menu pages, number keys, next / previous / return and timeouts, and each still shown on
the way is decoded and compared with the frame rendered for it.

    vcd_disc_check.py DISC.cue --albums 3,0,2 --per-page 6 --norm ntsc --label TEXT
                      [--music] [--frames DIR] [--work DIR]

--albums gives the picture count of every album in order. --frames is the folder that
"lumivox-cli render" filled (menu_NN.png, menu_AA_pic_PP.png). Prints every difference
found and exits with status 1 when there is one, 2 when the image cannot be read at all.
"""

import argparse
import io
import math
import os
import re
import subprocess
import sys
import tempfile

SECTOR = 2352
FORM1_DATA = 2048
FORM2_DATA = 2324
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"
SEGMENT_UNIT = 150
NO_LIST = 0xFFFF
PSNR_MINIMUM = 30.0

# CD-XA attribute words of the directory records' system use field.
XA_DIRECTORY = 0x8D55
XA_FORM1 = 0x0D55
XA_FORM2 = 0x1555

# Subheader submode bits (CD-ROM XA): end of file, real time, form 2, trigger, data,
# audio, video, end of record.
SM_EOF, SM_RT, SM_FORM2, SM_TRIGGER, SM_DATA, SM_AUDIO, SM_VIDEO, SM_EOR = (
    0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01)


class Report:
    def __init__(self):
        self.problems = []
        self.notes = []

    def fail(self, text):
        self.problems.append(text)
        print("FAIL: " + text)

    def expect(self, condition, text):
        if not condition:
            self.fail(text)
        return condition

    def equal(self, what, actual, expected):
        if actual == expected:
            return True
        if isinstance(actual, dict) and isinstance(expected, dict):
            keys = sorted(set(actual) | set(expected))
            differences = ["%s %r (expected %r)" % (k, actual.get(k), expected.get(k))
                           for k in keys if actual.get(k) != expected.get(k)]
            self.fail("%s: %s" % (what, "; ".join(differences)))
        else:
            self.fail("%s: %r, expected %r" % (what, actual, expected))
        return False

    def note(self, text):
        self.notes.append(text)
        print("ok:   " + text)


# --- Sectors ------------------------------------------------------------------------

def make_edc_table():
    # CD-ROM EDC (ECMA-130 annex): x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1,
    # least significant bit first.
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ (0xD8018001 if c & 1 else 0)
        table.append(c)
    return table


EDC_TABLE = make_edc_table()


def edc(data):
    crc = 0
    table = EDC_TABLE
    for b in data:
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8)
    return crc


def bcd(value):
    return (value // 10) << 4 | value % 10


def msf_bytes(sector):
    absolute = sector + 150
    return bytes((bcd(absolute // 4500), bcd(absolute // 75 % 60), bcd(absolute % 75)))


def msf_to_sector(text):
    minutes, seconds, frames = (int(x) for x in text.split(":"))
    return (minutes * 60 + seconds) * 75 + frames


class Image:
    def __init__(self, data):
        self.data = data
        self.count = len(data) // SECTOR

    def raw(self, n):
        return self.data[n * SECTOR:(n + 1) * SECTOR]

    def subheader(self, n):
        s = self.data[n * SECTOR + 16:n * SECTOR + 20]
        return s[0], s[1], s[2], s[3]  # file, channel, submode, coding

    def form2(self, n):
        return bool(self.data[n * SECTOR + 18] & SM_FORM2)

    def user_data(self, n):
        base = n * SECTOR
        if self.form2(n):
            return self.data[base + 24:base + 24 + FORM2_DATA]
        return self.data[base + 24:base + 24 + FORM1_DATA]


def check_sectors(image, report, edc_every):
    """Sync, address, mode and subheader copy of every sector; EDC of every Form 1 sector
    and of every edc_every-th Form 2 sector (the EDC check is slow in pure Python)."""
    first_bad = None
    edc_checked = 0
    for n in range(image.count):
        base = n * SECTOR
        d = image.data
        problem = None
        if d[base:base + 12] != SYNC:
            problem = "no sync pattern"
        elif d[base + 12:base + 15] != msf_bytes(n):
            problem = "address %s, expected %s" % (d[base + 12:base + 15].hex(), msf_bytes(n).hex())
        elif d[base + 15] != 2:
            problem = "mode %d, expected 2" % d[base + 15]
        elif d[base + 16:base + 20] != d[base + 20:base + 24]:
            problem = "the two subheader copies differ"
        else:
            form2 = d[base + 18] & SM_FORM2
            if not form2 or n % edc_every == 0:
                end = base + (2348 if form2 else 2072)
                stored = int.from_bytes(d[end:end + 4], "little")
                edc_checked += 1
                if stored != edc(d[base + 16:end]):
                    problem = "EDC %08x does not match the data" % stored
        if problem and first_bad is None:
            first_bad = (n, problem)
    if first_bad:
        report.fail("sector %d: %s" % first_bad)
    else:
        report.note("%d sectors: sync, address, mode 2, subheaders; EDC of %d" % (image.count, edc_checked))


# --- CUE sheet ----------------------------------------------------------------------

def read_cue(path, report):
    tracks = {}
    bin_name = None
    current = None
    with open(path, encoding="utf-8") as cue:
        for line in cue:
            words = line.strip()
            m = re.match(r'FILE "(.+)" BINARY$', words)
            if m:
                bin_name = m.group(1)
                continue
            m = re.match(r"TRACK (\d\d) MODE2/2352$", words)
            if m:
                current = int(m.group(1))
                tracks[current] = {}
                continue
            m = re.match(r"INDEX (\d\d) (\d\d:\d\d:\d\d)$", words)
            if m and current is not None:
                tracks[current][int(m.group(1))] = msf_to_sector(m.group(2))
                continue
            if words and not words.startswith(("REM", "PREGAP", "POSTGAP")):
                report.fail("CUE sheet line not understood: %r" % words)
    report.expect(bin_name is not None, "the CUE sheet names no BIN file")
    return bin_name, tracks


# --- Control files ------------------------------------------------------------------

def be16(b, at):
    return b[at] << 8 | b[at + 1]


def be32(b, at):
    return int.from_bytes(b[at:at + 4], "big")


def bcd_msf_to_sector(b):
    def unbcd(x):
        return (x >> 4) * 10 + (x & 15)
    return (unbcd(b[0]) * 60 + unbcd(b[1])) * 75 + unbcd(b[2]) - 150


def parse_psd(psd, lot, extended, report, name):
    """Selection lists by LID from a PSD file and its LOT: every LOT entry points at a
    descriptor; references are turned back into LIDs through the LOT."""
    offset_to_lid = {}
    lids = []
    for lid in range(1, len(lot) // 2):
        word = be16(lot, 2 * lid)
        if word == NO_LIST:
            continue
        offset_to_lid[word] = lid
        lids.append(lid)
    report.equal(name + " LOT word 0", be16(lot, 0), 0)
    lists = {}

    def target(word):
        if word == NO_LIST:
            return None
        if word not in offset_to_lid:
            report.fail("%s: a reference (%d) points at no list in the LOT" % (name, word))
            return "bad"
        return offset_to_lid[word]

    for lid in lids:
        at = be16(lot, 2 * lid) * 8
        if at + 20 > len(psd):
            report.fail("%s: LID %d points past the end (offset %d)" % (name, lid, at))
            continue
        d = psd[at:]
        kind = d[0]
        if kind != (0x1A if extended else 0x18):
            report.fail("%s: LID %d is descriptor type 0x%02X, expected a selection list" % (name, lid, kind))
            continue
        nos = d[2]
        size = (36 + 6 * nos) if extended else (20 + 2 * nos)
        if (at % 2048) + size > 2048:
            report.fail("%s: LID %d's descriptor crosses a 2,048-byte boundary" % (name, lid))
        entry = {
            "flags": d[1], "nos": nos, "bsn": d[3], "lid": be16(d, 4),
            "prev": target(be16(d, 6)), "next": target(be16(d, 8)), "return": target(be16(d, 10)),
            "default": target(be16(d, 12)) if be16(d, 12) not in (0xFFFE, 0xFFFD) else be16(d, 12),
            "timeout": target(be16(d, 14)), "time": d[16], "loop": d[17], "item": be16(d, 18),
            "selections": [target(be16(d, 20 + 2 * k)) for k in range(nos)],
            "offset": at, "size": size,
        }
        if extended and any(d[20 + 2 * nos:size]):
            report.fail("%s: LID %d has extended areas that are not zero" % (name, lid))
        lists[lid] = entry
    return lists


# --- Segments and frames ------------------------------------------------------------

def run(command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def probe_streams(path):
    result = run(["ffprobe", "-v", "error", "-show_entries",
                  "stream=id,codec_type,codec_name,width,height,sample_rate,channels",
                  "-of", "compact=p=0", path])
    streams = {}
    for line in result.stdout.decode().splitlines():
        fields = dict(part.split("=", 1) for part in line.split("|") if "=" in part)
        streams[fields.get("id", "?")] = fields
    return streams


def video_time(image, first, end):
    """The earliest presentation time (seconds) of video stream 0xE0 in sectors first .. end - 1."""
    best = None
    for n in range(first, min(end, image.count)):
        packet = image.user_data(n)
        at = 12 if packet[:4] == b"\x00\x00\x01\xba" else 0
        while at + 6 <= len(packet) and packet[at:at + 3] == b"\x00\x00\x01":
            stream, length = packet[at + 3], int.from_bytes(packet[at + 4:at + 6], "big")
            if stream == 0xE0:
                h = at + 6
                while h < len(packet) and packet[h] == 0xFF:
                    h += 1
                if h < len(packet) and packet[h] & 0xC0 == 0x40:
                    h += 2
                if h + 5 <= len(packet) and packet[h] & 0xE0 == 0x20:
                    p = packet[h:h + 5]
                    pts = ((p[0] >> 1) & 7) << 30 | p[1] << 22 | (p[2] >> 1) << 15 | p[3] << 7 | p[4] >> 1
                    best = pts / 90000.0 if best is None else min(best, pts / 90000.0)
            if stream == 0xB9:
                break
            at += 6 + length
    return best


def decoded_luma(path, stream_id, width, height):
    result = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:i:0x%x" % stream_id,
                  "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"])
    data = result.stdout
    if result.returncode != 0 or len(data) != width * height * 3 // 2:
        return None
    return data[:width * height]


def rendered_luma(png):
    from PIL import Image as PilImage
    with PilImage.open(png) as picture:
        rgb = picture.convert("RGB")
        width, height = rgb.size
        px = rgb.tobytes()
    # The still encoder's luminance: (29 B + 150 G + 77 R) / 256, truncated.
    return width, height, bytes((29 * px[i + 2] + 150 * px[i + 1] + 77 * px[i]) >> 8
                                for i in range(0, len(px), 3))


def psnr(a, b):
    total = sum((x - y) * (x - y) for x, y in zip(a, b))
    if total == 0:
        return 99.0
    return 10 * math.log10(255.0 * 255.0 / (total / len(a)))


def packet_streams(packet):
    """The stream ids a pack carries: those of its PES packets and those its system
    header lists (a player learns of every stream from the first pack)."""
    found = set()
    at = 12
    while at + 6 <= len(packet) and packet[at:at + 3] == b"\x00\x00\x01":
        sid = packet[at + 3]
        if sid == 0xB9:
            break
        length = be16(packet, at + 4)
        if sid == 0xBB:
            for entry in range(at + 12, min(at + 6 + length, len(packet)) - 2, 3):
                if packet[entry] & 0x80:
                    found.add(packet[entry])
        else:
            found.add(sid)
        at += 6 + length
    return found


# Expected subheaders of a segment packet by its stream (base submode, channel, coding).
SEGMENT_SUBHEADER = {
    0xE1: (0x62, 2, 0x1F),
    0xE2: (0x62, 3, 0x3F),
    0xC0: (0x64, 1, 0x7F),
}


def check_segment_sectors(image, name, extent, packets, units, report):
    problems = []
    for i in range(units * SEGMENT_UNIT):
        n = extent + i
        fn, channel, submode, coding = image.subheader(n)
        if i < packets:
            streams = packet_streams(image.user_data(n))
            video = streams & {0xE1, 0xE2}
            kinds = video or (streams & {0xC0}) or {0}
            allowed = [SEGMENT_SUBHEADER.get(sid, (0x60, 0, 0)) for sid in kinds]
            if fn != 1 or (submode & 0x6E, channel, coding) not in allowed:
                problems.append("packet %d (streams %s): subheader %02x %02x %02x %02x" %
                                (i, sorted(hex(x) for x in streams), fn, channel, submode, coding))
            if (i == packets - 1) != bool(submode & SM_EOF):
                problems.append("packet %d: end-of-file flag %s" % (i, "missing" if i == packets - 1 else "set"))
        else:
            if (fn, channel, submode, coding) != (1, 0, 0x60, 0) or any(image.user_data(n)):
                problems.append("padding sector %d: subheader %02x %02x %02x %02x" % (i, fn, channel, submode, coding))
        if problems:
            break
    if problems:
        report.fail("%s: %s" % (name, problems[0]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cue")
    parser.add_argument("--albums", default="", help="picture count of each album, comma-separated")
    parser.add_argument("--per-page", type=int, required=True, help="albums per menu page")
    parser.add_argument("--norm", choices=("ntsc", "pal"), required=True)
    parser.add_argument("--label", default="")
    parser.add_argument("--music", action="store_true", help="the menu pages carry music")
    parser.add_argument("--frames", help="folder of the rendered frames (lumivox-cli render)")
    parser.add_argument("--work", help="scratch folder (default: a temporary one)")
    parser.add_argument("--chapters", default="0",
                        help="start of each entry point of the MPEG track in seconds, comma-separated "
                             "(default: one entry, the track's start)")
    parser.add_argument("--edc-every", type=int, default=7, help="check the EDC of every n-th Form 2 sector")
    args = parser.parse_args()

    import pycdlib

    report = Report()
    albums = [int(x) for x in args.albums.split(",") if x.strip() != ""]
    per_page = args.per_page
    pal = args.norm == "pal"
    height = 576 if pal else 480
    pages = (len(albums) + per_page - 1) // per_page if albums and per_page > 0 else 0
    slides = sum(albums)
    work = args.work or tempfile.mkdtemp(prefix="vcd-check-")
    os.makedirs(work, exist_ok=True)

    # The CUE sheet and the BIN beside it.
    bin_name, tracks = read_cue(args.cue, report)
    if bin_name is None:
        return 2
    bin_path = os.path.join(os.path.dirname(os.path.abspath(args.cue)), bin_name)
    with open(bin_path, "rb") as f:
        data = f.read()
    if len(data) == 0 or len(data) % SECTOR:
        report.fail("%s: %d bytes is not a whole number of 2,352-byte sectors" % (bin_path, len(data)))
        return 2
    image = Image(data)
    report.equal("CUE tracks", sorted(tracks), [1, 2])
    report.equal("track 1 INDEX 01", tracks.get(1, {}).get(1), 0)
    check_sectors(image, report, max(1, args.edc_every))

    # The file system, from the Form 1 user data of the first track.
    pvd = image.user_data(16)
    report.equal("volume descriptor type and id", pvd[0:7], b"\x01CD001\x01")
    iso_size = int.from_bytes(pvd[80:84], "little")
    report.equal("volume space size (both-endian)", int.from_bytes(pvd[84:88], "big"), iso_size)
    report.equal("system identifier", pvd[8:40], b"CD-RTOS CD-BRIDGE".ljust(32))
    report.equal("volume identifier", pvd[40:72], args.label.encode()[:32].ljust(32))
    report.equal("publisher identifier", pvd[318:446], b"LV_VCD 1.0".ljust(128))
    report.equal("data preparer identifier", pvd[446:574], b"LV_VCD VERSION 1.0".ljust(128))
    report.equal("CD-XA marker", pvd[1024:1032], b"CD-XA001")
    report.equal("terminator", image.user_data(17)[0:7], b"\xffCD001\x01")
    report.expect(iso_size >= 300, "ISO area of %d sectors, expected at least 300" % iso_size)
    # The cooked copy covers the whole image (Form 2 sectors as zeros), so that every
    # extent the directories name lies inside it.
    cooked = io.BytesIO()
    for n in range(image.count):
        cooked.write(image.user_data(n) if not image.form2(n) else bytes(FORM1_DATA))
    cooked.seek(0)
    iso = pycdlib.PyCdlib()
    iso.open_fp(cooked)

    def children(path):
        out = []
        for record in iso.list_children(iso_path=path):
            name = record.file_identifier().decode()
            if name in ("\x00", "\x01", ".", ".."):
                continue
            xa = record.xa_record.record() if record.xa_record is not None else b""
            attributes = be16(xa, 4) if len(xa) >= 14 and xa[6:8] == b"XA" else None
            file_number = xa[8] if len(xa) >= 14 else None
            out.append((name, record.extent_location(), record.data_length, record.is_dir(),
                        attributes, file_number))
        return out

    root = children("/")
    expected_root = ["EXT", "MPEGAV", "SEGMENT", "VCD"] if pages + slides else ["EXT", "MPEGAV", "VCD"]
    report.equal("root directory", [c[0] for c in root], expected_root)
    for name, _, _, is_dir, attributes, _ in root:
        report.expect(is_dir and attributes == XA_DIRECTORY, "%s: not a directory with XA attributes 0x8D55" % name)
    files = {}
    for folder in [c[0] for c in root if c[3]]:
        for name, extent, size, _, attributes, number in children("/" + folder):
            files[folder + "/" + name.split(";")[0]] = (extent, size, attributes, number)
    # Playback control exists when there is at least one list; a disc without albums is
    # a plain Video CD of its one track.
    has_pbc = pages + slides > 0
    expected_form1 = {"VCD/INFO.VCD": (150, 2048, 0), "VCD/ENTRIES.VCD": (151, 2048, 0)}
    if has_pbc:
        expected_form1.update({"VCD/LOT.VCD": (152, 65536, 0), "VCD/PSD.VCD": (184, None, 0),
                               "EXT/LOT_X.VCD": (None, 65536, 1), "EXT/PSD_X.VCD": (None, None, 1)})
    unexpected = sorted(p for p in files if not p.startswith(("SEGMENT/", "MPEGAV/")) and p not in expected_form1)
    report.equal("files not expected on the disc", unexpected, [])
    for path, (extent, size, number) in expected_form1.items():
        if not report.expect(path in files, path + " is missing"):
            continue
        got = files[path]
        if extent is not None:
            report.equal(path + " extent", got[0], extent)
        if size is not None:
            report.equal(path + " size", got[1], size)
        report.equal(path + " XA attributes", got[2], XA_FORM1)
        report.equal(path + " XA file number", got[3], number)

    def read_file(path):
        if path not in files:
            return b""
        out = io.BytesIO()
        iso.get_file_from_iso_fp(out, iso_path="/" + path + ";1")
        return out.getvalue()

    info = read_file("VCD/INFO.VCD")
    entries = read_file("VCD/ENTRIES.VCD")
    lot = read_file("VCD/LOT.VCD")
    psd = read_file("VCD/PSD.VCD")
    lot_x = read_file("EXT/LOT_X.VCD")
    psd_x = read_file("EXT/PSD_X.VCD")

    # Segment items: their files, extents and sectors.
    items = sorted((int(p[len("SEGMENT/ITEM"):-4]), p) for p in files if p.startswith("SEGMENT/ITEM"))
    report.equal("segment items", len(items), pages + slides)
    segments = {}  # play item number -> (file path, extracted stream, packets, units)
    for number, path in items:
        extent, size, attributes, fileno = files[path]
        report.equal(path + " XA attributes", attributes, XA_FORM2)
        report.equal(path + " XA file number", fileno, 1)
        if size % FORM1_DATA:
            report.fail("%s: size %d is not whole packets" % (path, size))
            continue
        packets = size // FORM1_DATA
        units = (packets + SEGMENT_UNIT - 1) // SEGMENT_UNIT
        check_segment_sectors(image, path, extent, packets, units, report)
        stream = b"".join(image.user_data(extent + i) for i in range(packets))
        out = os.path.join(work, "ITEM%04d.mpg" % number)
        with open(out, "wb") as f:
            f.write(stream)
        segments[1000 + number - 1] = (path, out, packets, units, extent)

    # INFO.VCD
    report.equal("INFO.VCD id", info[0:8], b"VIDEO_CD")
    report.equal("INFO.VCD version and profile", info[8:10], b"\x02\x00")
    report.equal("INFO.VCD album identifier", info[10:26], args.label.encode()[:16].ljust(16))
    report.equal("INFO.VCD volume count and number", (be16(info, 26), be16(info, 28)), (1, 1))
    report.equal("INFO.VCD PAL flags", info[30:43], bytes([1 if pal else 0]) + bytes(12))
    report.equal("INFO.VCD status flags", info[43], 0x80 if has_pbc else 0)
    report.equal("INFO.VCD PSD size", be32(info, 44), len(psd))
    if items:
        first_extent = files[items[0][1]][0]
        report.equal("INFO.VCD first segment address", info[48:51], msf_bytes(first_extent))
        report.expect(first_extent % 75 == 0, "the segment area starts at sector %d, not a multiple of 75" % first_extent)
    report.equal("INFO.VCD offset multiplier", info[51], 8 if has_pbc else 0)
    report.equal("INFO.VCD LOT entries", be16(info, 52), pages + slides)
    total_units = sum(s[3] for s in segments.values())
    report.equal("INFO.VCD segment units", be16(info, 54), total_units)
    content = info[56:56 + total_units]
    report.expect(not any(info[56 + total_units:]), "INFO.VCD has bytes after the segment content bytes")
    unit = 0
    still_type = 7 if pal else 3
    for play_item in sorted(segments):
        path, _, _, units, _ = segments[play_item]
        report.equal(path + " play item number", play_item, 1000 + unit)
        is_menu = play_item - 1000 < sum(segments[p][3] for p in sorted(segments)[:pages])
        audio = 2 if (args.music and is_menu) else 0
        expected = [still_type << 2 | audio] + [0x20 | still_type << 2 | audio] * (units - 1)
        report.equal(path + " content bytes", list(content[unit:unit + units]), expected)
        unit += units

    # ENTRIES.VCD and the MPEG track.
    report.equal("ENTRIES.VCD id", entries[0:8], b"ENTRYVCD")
    report.equal("ENTRIES.VCD version", entries[8:10], b"\x02\x00")
    chapters = [float(x) for x in args.chapters.split(",") if x.strip() != ""]
    report.equal("ENTRIES.VCD entries", be16(entries, 10), len(chapters))
    entry_sectors = []
    for k in range(len(chapters)):
        report.equal("ENTRIES.VCD entry %d track" % (k + 1), entries[12 + 4 * k], 0x02)
        entry_sectors.append(bcd_msf_to_sector(entries[13 + 4 * k:16 + 4 * k]))
    entry = entry_sectors[0] if entry_sectors else None
    report.expect(not any(entries[12 + 4 * len(chapters):]), "ENTRIES.VCD has bytes after its entries")
    report.equal("ENTRIES.VCD entries ascend", entry_sectors, sorted(set(entry_sectors)))
    track = files.get("MPEGAV/AVSEQ01.DAT")
    if report.expect(track is not None, "MPEGAV/AVSEQ01.DAT is missing"):
        extent, size, attributes, number = track
        report.equal("AVSEQ01.DAT XA attributes and file number", (attributes, number), (XA_FORM2, 1))
        report.equal("ENTRIES.VCD entry address", entry, extent)
        report.equal("track 2 INDEX 01 in the CUE sheet", tracks.get(2, {}).get(1), extent)
        report.expect(tracks.get(2, {}).get(0, extent) < extent, "track 2 has no pregap before INDEX 01")
        report.expect(extent >= iso_size, "the MPEG track starts inside the ISO area")
        body = [image.user_data(extent + i) for i in range(size // FORM1_DATA)]
        body = [p for p in body if any(p)]
        track_file = os.path.join(work, "AVSEQ01.mpg")
        with open(track_file, "wb") as f:
            f.write(b"".join(body))
        # Each further entry point lies in the track, on a sector that starts a sequence
        # header of the video, at the time of its chapter (within a group of pictures).
        first_time = video_time(image, extent, extent + size // FORM1_DATA)
        for k, sector in enumerate(entry_sectors[1:], 1):
            report.expect(extent < sector < extent + size // FORM1_DATA,
                          "entry %d at sector %d lies outside the MPEG track" % (k + 1, sector))
            report.expect(b"\x00\x00\x01\xb3" in image.user_data(sector),
                          "entry %d (sector %d) holds no sequence header" % (k + 1, sector))
            at = video_time(image, sector, sector + 20)
            report.expect(at is not None and first_time is not None and
                          abs(at - first_time - chapters[k]) <= 0.6,
                          "entry %d (sector %d) plays at %r s, not at %.2f s" %
                          (k + 1, sector, None if at is None or first_time is None else at - first_time,
                           chapters[k]))
        streams = probe_streams(track_file)
        video = [s for s in streams.values() if s.get("codec_type") == "video"]
        report.expect(video and video[0].get("width") == "352" and video[0].get("height") == str(height // 2),
                      "the MPEG track's video is not 352 x %d: %r" % (height // 2, streams))
        # Lead-out pregap: 150 empty Form 2 sectors after the track.
        end = extent + size // FORM1_DATA
        report.equal("sectors after the MPEG track", image.count - end, 150)
        for n in range(end, image.count):
            if image.subheader(n) != (0, 0, 0x20, 0) or any(image.user_data(n)):
                report.fail("lead-out pregap sector %d is not empty Form 2" % n)
                break

    # Playback control.
    lists = parse_psd(psd, lot, False, report, "PSD.VCD") if has_pbc else {}
    lists_x = parse_psd(psd_x, lot_x, True, report, "PSD_X.VCD") if has_pbc else {}
    report.equal("lists in LOT.VCD", sorted(lists), list(range(1, pages + slides + 1)))
    report.equal("lists in LOT_X.VCD", sorted(lists_x), sorted(lists))
    for lid in lists:
        if lid in lists_x:
            a = {k: v for k, v in lists[lid].items() if k not in ("offset", "size")}
            b = {k: v for k, v in lists_x[lid].items() if k not in ("offset", "size")}
            report.equal("LID %d in PSD_X.VCD" % lid, b, a)

    def item_of(lid):
        return lists.get(lid, {}).get("item")

    # What each album's number key must reach: its first slide, or (for an empty album)
    # the first slide of the next album with pictures, or nothing.
    first_slide = []
    running = pages + 1
    for count in albums:
        first_slide.append(running if running <= pages + slides else None)
        running += count

    frames_checked = []

    def compare_frame(lid, png_name):
        if not args.frames:
            return
        play_item = item_of(lid)
        if play_item not in segments:
            report.fail("LID %d plays item %r, which is no segment of the disc" % (lid, play_item))
            return
        png = os.path.join(args.frames, png_name)
        if not report.expect(os.path.exists(png), png + " was not rendered"):
            return
        width, png_height, rendered = rendered_luma(png)
        report.equal(png_name + " size", (width, png_height), (704, height))
        decoded = decoded_luma(segments[play_item][1], 0x1E2, 704, height)
        if not report.expect(decoded is not None, "%s: ffmpeg cannot decode its 704 x %d still"
                             % (segments[play_item][0], height)):
            return
        value = psnr(rendered, decoded)
        frames_checked.append(value)
        report.expect(value > PSNR_MINIMUM, "LID %d (%s) shows a still %.1f dB from %s"
                      % (lid, segments[play_item][0], value, png_name))

    for page in range(pages):
        lid = page + 1
        node = lists.get(lid)
        if not report.expect(node is not None, "menu page %d has no list" % (page + 1)):
            continue
        on_page = list(range(page * per_page, min((page + 1) * per_page, len(albums))))
        expected = {
            "flags": 0, "nos": len(on_page), "bsn": 1, "lid": lid,
            "prev": lid - 1 if page > 0 else None, "next": lid + 1 if page < pages - 1 else None,
            "return": None, "default": lid, "timeout": lid, "time": 0xFF, "loop": 1,
            "item": 1000 + sum(segments[p][3] for p in sorted(segments)[:page]) if segments else None,
            "selections": [first_slide[j] for j in on_page],
        }
        actual = {k: v for k, v in node.items() if k not in ("offset", "size")}
        report.equal("menu page %d (LID %d)" % (page + 1, lid), actual, expected)
        compare_frame(lid, "menu_%02d.png" % (page + 1))

    slide_lid = pages + 1
    for album, count in enumerate(albums):
        for picture in range(count):
            lid = slide_lid
            node = lists.get(lid)
            slide_lid += 1
            if not report.expect(node is not None, "album %d picture %d has no list" % (album + 1, picture + 1)):
                continue
            last = picture == count - 1
            segment_index = lid - 1
            expected = {
                "flags": 0, "nos": 0, "bsn": 1, "lid": lid,
                "prev": lid - 1 if picture > 0 else None, "next": 1 if last else lid + 1,
                "return": 1, "default": None, "timeout": None if last else lid + 1,
                "time": 10, "loop": 0x81,
                "item": 1000 + sum(segments[p][3] for p in sorted(segments)[:segment_index]) if segments else None,
                "selections": [],
            }
            actual = {k: v for k, v in node.items() if k not in ("offset", "size")}
            report.equal("album %d picture %d (LID %d)" % (album + 1, picture + 1, lid), actual, expected)

    # A player's walk: each key of each page, then next (or the timeout) through the
    # album; every still on the way must be the picture rendered for that place.
    for page in range(pages):
        for key, album in enumerate(range(page * per_page, min((page + 1) * per_page, len(albums)))):
            node = lists.get(page + 1)
            if node is None or key >= len(node["selections"]) or albums[album] == 0:
                continue
            lid = node["selections"][key]
            for picture in range(albums[album]):
                if lid not in lists:
                    report.fail("album %d: the walk from key %d ends at %r before picture %d"
                                % (album + 1, key + 1, lid, picture + 1))
                    break
                compare_frame(lid, "menu_%02d_pic_%02d.png" % (album + 1, picture + 1))
                lid = lists[lid]["next"]
            else:
                report.equal("album %d: next after its last picture" % (album + 1), lid, 1)

    # Every segment as a program stream of its own.
    for play_item, (path, out, packets, units, _) in sorted(segments.items()):
        streams = probe_streams(out)
        is_menu = play_item < 1000 + sum(segments[p][3] for p in sorted(segments)[:pages])
        companion = streams.get("0x1e1", {})
        high = streams.get("0x1e2", {})
        ok = (companion.get("codec_name") == "mpeg1video" and companion.get("width") == "352"
              and companion.get("height") == str(height // 2) and high.get("codec_name") == "mpeg1video"
              and high.get("width") == "704" and high.get("height") == str(height))
        audio = streams.get("0x1c0", {})
        want_audio = args.music and is_menu
        ok = ok and (audio.get("codec_name") == "mp2") == want_audio and len(streams) == (3 if want_audio else 2)
        report.expect(ok, "%s: ffprobe sees %r" % (path, streams))

    if frames_checked:
        report.note("%d stills decoded and compared with their rendered frames, lowest %.1f dB"
                    % (len(frames_checked), min(frames_checked)))
    report.note("%d menu pages, %d slides, %d segment units, ISO area %d sectors, image %d sectors"
                % (pages, slides, total_units, iso_size, image.count))
    if report.problems:
        print("%d problem(s) found" % len(report.problems))
        return 1
    print("image matches the project")
    return 0


if __name__ == "__main__":
    sys.exit(main())
