#!/usr/bin/env python3
"""Draws Salvora's icons and writes them as PNG files into resources/icons/.

    python3 scripts/make-icons.py [OUTPUT_FOLDER]

Standard library only. The output is the same on every run, so the PNGs in the repository can
be regenerated and compared. The 16-pixel icons are pixel art: a folder base with a small emblem
in the bottom-right corner for each kind of folder, and one picture for each kind of list row.
The application icon (an envelope with a lifebuoy) is drawn from shapes and smoothed by
averaging several samples per pixel.
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------------------------
# PNG output


def write_png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples, 8 bits each."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------------------------------------
# Colours

PALETTE = {
    # folder
    "o": (120, 84, 18),     # outline
    "T": (218, 164, 58),    # back panel and tab
    "L": (255, 235, 158),   # front panel, lit edge
    "Y": (247, 205, 96),    # front panel
    "D": (214, 158, 50),    # front panel, shaded edge
    # neutrals
    "k": (44, 44, 52),      # emblem outline
    "w": (255, 255, 255),
    "p": (250, 249, 240),   # paper
    "l": (214, 216, 222),   # light grey
    "g": (158, 162, 170),   # grey
    "G": (94, 98, 108),     # dark grey
    # colours
    "r": (222, 52, 44),
    "R": (146, 26, 22),
    "b": (62, 122, 214),
    "B": (30, 70, 148),
    "c": (176, 208, 246),
    "e": (62, 170, 62),
    "E": (28, 108, 34),
    "n": (255, 242, 122),   # note
    "N": (214, 186, 48),
    "y": (255, 200, 30),    # warning yellow
    "O": (240, 138, 36),    # orange
    "Q": (196, 96, 20),     # orange, dark
    "P": (242, 150, 170),   # pink
    "S": (242, 198, 152),   # skin
    "W": (166, 110, 58),    # clipboard board
    "M": (96, 58, 24),      # clipboard board, dark
    "V": (124, 76, 170),    # journal cover
    "v": (78, 44, 118),     # journal cover, dark
}


def rgba(c):
    if c is None:
        return (0, 0, 0, 0)
    if isinstance(c, str):
        return PALETTE[c] + (255,)
    if len(c) == 3:
        return tuple(c) + (255,)
    return tuple(c)


# ---------------------------------------------------------------------------------------------
# Pixel canvas


class Canvas:
    def __init__(self, width, height):
        self.w = width
        self.h = height
        self.px = [[(0, 0, 0, 0)] * width for _ in range(height)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = rgba(c)

    def get(self, x, y):
        if 0 <= x < self.w and 0 <= y < self.h:
            return self.px[y][x]
        return (0, 0, 0, 0)

    def rect(self, x0, y0, x1, y1, c):
        """Filled, corners included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.set(x, y0, c)
            self.set(x, y1, c)
        for y in range(y0, y1 + 1):
            self.set(x0, y, c)
            self.set(x1, y, c)

    def box(self, x0, y0, x1, y1, fill, edge):
        """A filled rectangle with a one-pixel border."""
        self.rect(x0, y0, x1, y1, fill)
        self.frame(x0, y0, x1, y1, edge)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def sprite(self, x0, y0, rows):
        """Characters of PALETTE; '.' leaves the pixel as it is."""
        for dy, row in enumerate(rows):
            for dx, ch in enumerate(row):
                if ch != ".":
                    self.set(x0 + dx, y0 + dy, ch)

    def rows(self):
        return self.px


# ---------------------------------------------------------------------------------------------
# Folder bases

FOLDER = [
    "................",
    "................",
    ".ooooo..........",
    "oTTTTTo.........",
    "oTTTTTToooooooo.",
    "oTTTTTTTTTTTTTTo",
    "oLLLLLLLLLLLLLLo",
    "oLYYYYYYYYYYYYDo",
    "oLYYYYYYYYYYYYDo",
    "oLYYYYYYYYYYYYDo",
    "oLYYYYYYYYYYYYDo",
    "oLYYYYYYYYYYYYDo",
    "oLYYYYYYYYYYYYDo",
    "oDDDDDDDDDDDDDDo",
    ".oooooooooooooo.",
    "................",
]


def folder():
    c = Canvas(16, 16)
    c.sprite(0, 0, FOLDER)
    return c


def folder_open():
    c = Canvas(16, 16)
    # the back panel with its tab, and a sheet of paper standing in it
    c.sprite(0, 0, [
        "................",
        "................",
        ".ooooo..........",
        "oTTTTTo.........",
        "oTTTTTToooooooo.",
        "oTTTpppppppppTo.",
        "oTTTpgggggggpTo.",
        "oTTTpppppppppTo.",
        "oTTTTTTTTTTTTTo.",
        "oTTTTTTTTTTTTTo.",
        "oTTTTTTTTTTTTTo.",
        "oTTTTTTTTTTTTTo.",
        "oTTTTTTTTTTTTTo.",
        "oTTTTTTTTTTTTTo.",
        ".ooooooooooooo..",
        "................",
    ])
    # the front flap, fallen forward: its top edge further right than its bottom edge
    flap = [(7, 4, 15), (8, 4, 15), (9, 3, 15), (10, 3, 14), (11, 2, 14), (12, 2, 13), (13, 1, 13),
            (14, 0, 12)]
    for i, (y, x0, x1) in enumerate(flap):
        for x in range(x0, x1 + 1):
            if i == 0 or i == len(flap) - 1 or x in (x0, x1):
                col = "o"
            elif i == 1:
                col = "L"
            elif i == len(flap) - 2:
                col = "D"
            else:
                col = "Y"
            c.set(x, y, col)
    return c


# ---------------------------------------------------------------------------------------------
# Emblems: drawn over the folder base, in its bottom-right corner

EMBLEMS = {
    "calendar": [
        "..k...k..",
        "kkGkkkGkk",
        "krrrrrrrk",
        "krrrrrrrk",
        "kwwwwwwwk",
        "kwGwGwGwk",
        "kwwwwwwwk",
        "kwGwGwrwk",
        "kwwwwwwwk",
        "kkkkkkkkk",
    ],
    "contacts": [
        "...kkk...",
        "..kSSSk..",
        "..kSSSk..",
        "..kSSSk..",
        "...kkk...",
        ".kkbbbkk.",
        "kbbbbbbbk",
        "kbbbbbbbk",
        "kbbbbbbbk",
        "kkkkkkkkk",
    ],
    "deleted-items": [
        "...kkk...",
        "kkkkkkkkk",
        "klllllllk",
        "kkkkkkkkk",
        ".kwlglgk.",
        ".kwlglgk.",
        ".kwlglgk.",
        ".kwlglgk.",
        ".kwlglgk.",
        "..kkkkk..",
    ],
    "inbox": [
        "...kkkk...",
        "...keek...",
        ".kkkeekkk.",
        ".keeeeeek.",
        "..keeeek..",
        "kkkkeekkkk",
        "kGGGkkGGGk",
        "klkkkkkklk",
        "kllllllllk",
        "kkkkkkkkkk",
    ],
    "outbox": [
        "....kk....",
        "...kbbk...",
        "..kbbbbk..",
        ".kbbbbbbk.",
        ".kkkbbkkk.",
        "kkkkbbkkkk",
        "kGGGbbGGGk",
        "klkkkkkklk",
        "kllllllllk",
        "kkkkkkkkkk",
    ],
    "sent-items": [  # a paper plane flying up and to the right
        "........BB",
        "......BBwB",
        "....BBwwcB",
        "..BBwwwccB",
        "BBwwwwccB.",
        ".BBwwcccB.",
        "...BBcccB.",
        "....BccB..",
        "....BcB...",
        ".....B....",
    ],
    "sync-issues": [  # a warning triangle
        ".....k.....",
        "....kyk....",
        "....kyk....",
        "...kykyk...",
        "...kykyk...",
        "..kyykyyk..",
        "..kyyyyyk..",
        ".kyyykyyyk.",
        ".kyyyyyyyk.",
        "kkkkkkkkkkk",
    ],
    "notes": [
        "kkkkkkkkk",
        "kNNNNNNNk",
        "knnnnnnnk",
        "knGGGGGnk",
        "knnnnnnnk",
        "knGGGGnnk",
        "knnnnnkkk",
        "knnnnnkNk",
        "kkkkkkkk.",
    ],
    "tasks": [
        "........kk",
        ".......kek",
        "......keek",
        "kk...keek.",
        "kek.keek..",
        "keekeek...",
        ".keeeek...",
        "..keek....",
        "...kk.....",
    ],
    "journal": [
        "kkkkkkkk.",
        "kvVVVVVVk",
        "kvVwwwwVk",
        "kvVVVVVVk",
        "kvVVVVVVk",
        "kvVVVVVVk",
        "kvVVVVVVk",
        "kvkkkkkkk",
        "kvpppppgk",
        "kkkkkkkkk",
    ],
}


def outline_around(canvas, mask, colour):
    """Gives the pixels just outside the mask (4-neighbours) the colour."""
    for x, y in mask:
        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            if (x + dx, y + dy) not in mask:
                canvas.set(x + dx, y + dy, colour)


def emblem_pencil():
    """A pencil lying from bottom-left (point) to top-right (eraser), 10 x 10."""
    c = Canvas(10, 10)
    body = set()
    for y in range(10):
        for x in range(10):
            across, along = x + y - 9, x - y   # along: -8 at the point, 7 at the eraser
            if across in (0, 1) and -8 <= along <= 7:
                body.add((x, y))
    for x, y in body:
        along = x - y
        if along <= -7:
            col = "k"    # lead
        elif along <= -5:
            col = "S"    # bare wood
        elif along <= 3:
            col = "O" if x + y == 9 else "Q"
        elif along <= 4:
            col = "g"    # metal band
        else:
            col = "P"    # eraser
        c.set(x, y, col)
    outline_around(c, body, "k")
    return c


def emblem_junk():
    """A red "no" sign: a ring crossed from top-left to bottom-right, 10 x 10."""
    c = Canvas(10, 10)
    for y in range(10):
        for x in range(10):
            dist = math.hypot(x + 0.5 - 5, y + 0.5 - 5)
            if dist > 5.0:
                continue
            if dist > 4.1:
                col = "k"
            elif dist > 3.2 or abs(x - y) <= 1:
                col = "r"
            else:
                col = "w"
            c.set(x, y, col)
    return c


def with_emblem(emblem):
    c = folder()
    if isinstance(emblem, Canvas):
        h, w = emblem.h, emblem.w
        for y in range(h):
            for x in range(w):
                p = emblem.get(x, y)
                if p[3]:
                    c.set(16 - w + x, 16 - h + y, p)
    else:
        w, h = len(emblem[0]), len(emblem)
        c.sprite(16 - w, 16 - h, emblem)
    return c


# ---------------------------------------------------------------------------------------------
# The store: a filing cabinet


def personal_folders():
    c = Canvas(16, 16)
    c.box(2, 1, 13, 15, "T", "o")
    c.rect(3, 2, 12, 2, "L")
    for top in (3, 9):
        c.box(4, top, 11, top + 4, "Y", "o")
        c.rect(5, top + 1, 10, top + 1, "L")
        c.rect(5, top + 3, 10, top + 3, "D")
        c.rect(6, top + 2, 9, top + 2, "G")   # handle
    c.set(2, 15, None)
    c.set(13, 15, None)
    c.rect(3, 15, 12, 15, "o")
    return c


# ---------------------------------------------------------------------------------------------
# List rows


def item_mail():
    c = Canvas(16, 16)
    c.box(0, 3, 15, 13, "p", "G")
    # the flap
    c.line(1, 4, 7, 9, "g")
    c.line(14, 4, 8, 9, "g")
    c.set(7, 9, "G")
    c.set(8, 9, "G")
    c.rect(1, 12, 14, 12, "l")
    return c


def item_contact():
    c = Canvas(16, 16)
    c.box(0, 2, 15, 13, "w", "B")
    c.rect(1, 3, 14, 3, "c")
    # the person: head and shoulders
    c.sprite(1, 4, [
        "..kkk..",
        ".kkkkk.",
        ".kSSSk.",
        ".kSSSk.",
        "..SSS..",
        ".bbbbb.",
        "bbbbbbb",
        "bbbbbbb",
        "BBBBBBB",
    ])
    # the lines of the card
    c.rect(9, 6, 13, 6, "G")
    c.rect(9, 8, 13, 8, "g")
    c.rect(9, 10, 12, 10, "g")
    return c


def item_task():
    c = Canvas(16, 16)
    c.box(2, 1, 13, 15, "W", "M")
    c.box(4, 3, 11, 14, "w", "g")
    # the clip
    c.box(5, 0, 10, 2, "l", "G")
    c.set(7, 0, "w")
    c.set(8, 0, "w")
    # a tick on the paper
    c.sprite(4, 5, [
        ".......E",
        "......Ee",
        ".E...Ee.",
        ".eE.Ee..",
        "..eEe...",
        "...e....",
    ])
    c.rect(6, 12, 9, 12, "l")
    return c


def item_journal():
    c = Canvas(16, 16)
    c.box(3, 1, 13, 14, "V", "v")
    c.rect(4, 2, 5, 12, "v")          # spine
    c.rect(5, 13, 12, 13, "p")         # pages
    c.set(13, 13, "v")
    c.rect(4, 15, 13, 15, "v")
    c.rect(3, 14, 3, 15, "v")
    c.rect(4, 14, 12, 14, "l")
    c.rect(7, 4, 11, 6, "p")           # label
    c.rect(8, 5, 10, 5, "g")
    c.rect(11, 0, 11, 3, "r")          # ribbon
    return c


def item_note():
    c = Canvas(16, 16)
    c.box(1, 1, 14, 14, "n", "N")
    c.rect(2, 2, 13, 3, "N")
    c.rect(3, 6, 12, 6, "N")
    c.rect(3, 8, 12, 8, "N")
    c.rect(3, 10, 8, 10, "N")
    # the turned-up corner: cut along a diagonal, the flap folded back over the note
    for y in range(10, 15):
        for x in range(10, 15):
            if x + y > 24:
                c.set(x, y, None)
            elif x + y == 24:
                c.set(x, y, "N")
            elif x + y >= 20 and (x == 10 or y == 10 or x + y == 20):
                c.set(x, y, "N")
            elif x + y > 20:
                c.set(x, y, "w")
    return c


def item_appointment():
    c = Canvas(16, 16)
    c.box(1, 2, 14, 15, "w", "G")
    c.rect(2, 3, 13, 5, "r")
    c.rect(2, 5, 13, 5, "R")
    for x in (4, 11):
        c.rect(x, 0, x, 3, "G")
        c.set(x, 0, "l")
    for y in (7, 9, 11, 13):
        for x in (3, 5, 7, 9, 11):
            c.rect(x, y, x + 1, y, "l")
    c.rect(9, 11, 10, 11, "b")
    return c


# ---------------------------------------------------------------------------------------------
# The application icon: smooth shapes sampled several times per pixel, drawn on a 128-unit grid


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def near_segment(x, y, ax, ay, bx, by, half):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx - x, ay + t * dy - y
    return qx * qx + qy * qy <= half * half


def inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


INK = (29, 53, 87)
ENVELOPE = (240, 245, 252)
FLAP = (210, 224, 242)
BUOY_RED = (228, 57, 70)
BUOY_WHITE = (255, 255, 255)


def app_icon_sample(x, y, line):
    """The colour at (x, y) of the 128-unit drawing, or None; line is the outline width."""
    h = line / 2
    colour = None
    # the envelope
    ex0, ey0, ex1, ey1 = 6, 22, 110, 94
    if inside_round_rect(x, y, ex0 - h, ey0 - h, ex1 + h, ey1 + h, 8 + h):
        colour = INK
        if inside_round_rect(x, y, ex0 + h, ey0 + h, ex1 - h, ey1 - h, max(1.0, 8 - h)):
            colour = ENVELOPE
            if inside_triangle(x, y, (ex0, ey0), (ex1, ey0), ((ex0 + ex1) / 2, 62)):
                colour = FLAP
            if near_segment(x, y, ex0 + 4, ey0 + 3, (ex0 + ex1) / 2, 62, h) or \
               near_segment(x, y, ex1 - 4, ey0 + 3, (ex0 + ex1) / 2, 62, h):
                colour = INK
    # the lifebuoy in front of the envelope's lower-right corner
    cx, cy, r_out, r_in = 90, 90, 34, 17
    d = math.hypot(x - cx, y - cy)
    if r_in - h <= d <= r_out + h:
        colour = INK
        if r_in + h <= d <= r_out - h:
            angle = math.degrees(math.atan2(y - cy, x - cx)) % 360
            quarter = int(((angle + 45) % 360) // 90)
            colour = BUOY_RED if quarter % 2 == 0 else BUOY_WHITE
            # thin seams between the red and white quarters
            seam = min(abs(((angle - 45) % 90) - 45), 45)
            if d * math.radians(45 - seam) < h * 0.6:
                colour = INK
    return colour


def app_icon(size, line):
    """line: the outline width in units of the 128-unit drawing."""
    samples = 4 if size > 64 else 6
    scale = 128.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    col = app_icon_sample(x, y, line)
                    if col is not None:
                        r += col[0]
                        g += col[1]
                        b += col[2]
                        a += 1
            n = samples * samples
            if a:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------------------------


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "icons")
    os.makedirs(out, exist_ok=True)

    icons = {
        "folder": folder(),
        "folder-open": folder_open(),
        "personal-folders": personal_folders(),
        "calendar": with_emblem(EMBLEMS["calendar"]),
        "contacts": with_emblem(EMBLEMS["contacts"]),
        "deleted-items": with_emblem(EMBLEMS["deleted-items"]),
        "drafts": with_emblem(emblem_pencil()),
        "inbox": with_emblem(EMBLEMS["inbox"]),
        "journal": with_emblem(EMBLEMS["journal"]),
        "junk": with_emblem(emblem_junk()),
        "notes": with_emblem(EMBLEMS["notes"]),
        "outbox": with_emblem(EMBLEMS["outbox"]),
        "sent-items": with_emblem(EMBLEMS["sent-items"]),
        "tasks": with_emblem(EMBLEMS["tasks"]),
        "sync-issues": with_emblem(EMBLEMS["sync-issues"]),
        "item-mail": item_mail(),
        "item-contact": item_contact(),
        "item-task": item_task(),
        "item-journal": item_journal(),
        "item-note": item_note(),
        "item-appointment": item_appointment(),
    }
    for name, canvas in icons.items():
        write_png(os.path.join(out, name + ".png"), 16, 16, canvas.rows())
    write_png(os.path.join(out, "salvora.png"), 128, 128, app_icon(128, 5.0))
    write_png(os.path.join(out, "salvora-48.png"), 48, 48, app_icon(48, 7.0))
    print("wrote %d icons to %s" % (len(icons) + 2, os.path.normpath(out)))


if __name__ == "__main__":
    main()
