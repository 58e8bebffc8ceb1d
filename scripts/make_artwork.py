#!/usr/bin/env python3
"""Draws Tessel's pictures, window icon and pointing-hand cursor into ui/resources/.

Every picture is drawn here from simple shapes; nothing is taken from elsewhere. Python (standard
library only) does the geometry, the colours and the PNG, GIF and ICO encoding; ImageMagick's
`convert` is used for two things only: rasterising words in Liberation Sans Bold (Debian
fonts-liberation) and encoding the JPEG files. Running the script again rewrites every file with
the same bytes.

Usage: scripts/make_artwork.py [output folder]   (default: ui/resources beside this script)
"""

import math
import os
import struct
import subprocess
import sys
import zlib

FONT_BOLD = "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf"

# Liberation Sans capitals stand 0.729 em above the baseline; words are centred on that height so
# that a lower-case descender ("p" of Help) does not pull the word upwards.
CAP_HEIGHT_EM = 0.729

# Every edge of a filled shape is sampled SUPERSAMPLE x SUPERSAMPLE times per pixel.
SUPERSAMPLE = 4

JPEG_QUALITY = "98"

WHITE = (255, 255, 255)

# One family of colours for the whole tool: blues for the actions, one warm accent, slate greys.
BLUE_PALE = (0xA9, 0xCD, 0xF8)
BLUE_LIGHT = (0x62, 0x9F, 0xF0)
BLUE = (0x2F, 0x6F, 0xDE)
BLUE_DEEP = (0x1F, 0x4F, 0xA8)
ACCENT = (0xF2, 0x9D, 0x38)
NAVY = (0x1B, 0x33, 0x58)
SLATE = (0x5E, 0x6B, 0x7A)
SLATE_TEXT = (0x37, 0x41, 0x4F)
GREY_EDGE = (0xBF, 0xC6, 0xCE)
GREY_TOP = (0xF3, 0xF5, 0xF7)
GREY_BOTTOM = (0xE2, 0xE6, 0xEA)


# --------------------------------------------------------------------------------------------
# A canvas of straight (not premultiplied) RGBA pixels, with anti-aliased shape filling.
# --------------------------------------------------------------------------------------------


class Canvas:
    def __init__(self, width, height, background=None):
        self.width = width
        self.height = height
        colour = (0, 0, 0, 0.0) if background is None else (*background, 1.0)
        self.pixels = [list(colour) for _ in range(width * height)]

    def blend(self, x, y, colour, coverage):
        """Lays colour over pixel (x, y) with the given opacity (source-over)."""
        if coverage <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        pixel = self.pixels[y * self.width + x]
        alpha = pixel[3]
        out_alpha = coverage + alpha * (1.0 - coverage)
        for channel in range(3):
            pixel[channel] = (colour[channel] * coverage +
                              pixel[channel] * alpha * (1.0 - coverage)) / out_alpha
        pixel[3] = out_alpha

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = [*colour, 1.0]

    def fill(self, inside, colour, box=None):
        """Fills the shape `inside(x, y)` (continuous coordinates, pixel (i, j) spans [i, i+1) x
        [j, j+1)) with `colour`, a fixed RGB or a function of (x, y) giving one."""
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        step = 1.0 / SUPERSAMPLE
        offsets = [(k + 0.5) * step for k in range(SUPERSAMPLE)]
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = sum(1 for dy in offsets for dx in offsets if inside(x + dx, y + dy))
                if hits:
                    shade = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                    self.blend(x, y, shade, hits / SUPERSAMPLE**2)

    def rgb_bytes(self, matte=WHITE):
        """The pixels as packed RGB, laid over the matte colour."""
        out = bytearray()
        for r, g, b, a in self.pixels:
            for channel, under in zip((r, g, b), matte):
                out.append(clamp_byte(channel * a + under * (1.0 - a)))
        return bytes(out)

    def rgba_bytes(self):
        out = bytearray()
        for r, g, b, a in self.pixels:
            out += bytes((clamp_byte(r), clamp_byte(g), clamp_byte(b), clamp_byte(a * 255)))
        return bytes(out)


def clamp_byte(value):
    return max(0, min(255, int(round(value))))


def mix(colour_a, colour_b, t):
    return tuple(a + (b - a) * t for a, b in zip(colour_a, colour_b))


def vertical_gradient(top_colour, bottom_colour, top, bottom):
    def shade(_x, y):
        return mix(top_colour, bottom_colour, min(1.0, max(0.0, (y - top) / (bottom - top))))

    return shade


# Shapes: functions that say whether a point lies inside.


def rounded_rect(left, top, right, bottom, radius):
    def inside(x, y):
        if not (left <= x < right and top <= y < bottom):
            return False
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2

    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    return inside


def capsule(x_a, y_a, x_b, y_b, radius):
    """All points within `radius` of the segment from a to b."""

    def inside(x, y):
        dx, dy = x_b - x_a, y_b - y_a
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x_a) * dx + (y - y_a) * dy) / length2))
        return (x - x_a - t * dx) ** 2 + (y - y_a - t * dy) ** 2 <= radius**2

    return inside


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def difference(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


# --------------------------------------------------------------------------------------------
# Words: ImageMagick rasterises them as coverage masks, which are laid onto a canvas here.
# --------------------------------------------------------------------------------------------


class Word:
    """The coverage of one word, trimmed to its ink, with the baseline's row inside the mask."""

    def __init__(self, text, pointsize, kerning=0.0):
        pad = int(pointsize * 2)
        width, height = int(pointsize * (len(text) + 2)) + 2 * pad, int(pointsize * 3)
        baseline = int(pointsize * 2)
        raw = subprocess.run(
            ["convert", "-size", f"{width}x{height}", "xc:black", "-font", FONT_BOLD,
             "-pointsize", str(pointsize), "-kerning", str(kerning), "-fill", "white",
             "-annotate", f"+{pad}+{baseline}", text, "-depth", "8", "gray:-"],
            check=True, capture_output=True).stdout
        if len(raw) != width * height:
            sys.exit(f"convert gave {len(raw)} bytes for a {width}x{height} word mask")
        rows = [raw[y * width:(y + 1) * width] for y in range(height)]
        ink_rows = [y for y in range(height) if any(rows[y])]
        ink_cols = [x for x in range(width) if any(row[x] for row in rows)]
        self.top, self.left = ink_rows[0], ink_cols[0]
        self.height = ink_rows[-1] - self.top + 1
        self.width = ink_cols[-1] - self.left + 1
        self.baseline = baseline - self.top
        self.coverage = [[rows[self.top + y][self.left + x] / 255.0 for x in range(self.width)]
                         for y in range(self.height)]
        self.cap_height = CAP_HEIGHT_EM * pointsize

    def draw(self, canvas, left, baseline, colour):
        top = int(round(baseline)) - self.baseline
        for y in range(self.height):
            for x in range(self.width):
                canvas.blend(int(round(left)) + x, top + y, colour, self.coverage[y][x])

    def draw_centred(self, canvas, centre_x, centre_y, colour):
        """Centres the ink across, and the capital height down, on the given point."""
        self.draw(canvas, centre_x - self.width / 2.0, centre_y + self.cap_height / 2.0, colour)


# --------------------------------------------------------------------------------------------
# File encoders.
# --------------------------------------------------------------------------------------------


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png_indexed(path, width, height, palette, indices, transparent_index=None, depth=4):
    """A palette PNG; `indices` holds one palette index per pixel, row by row."""
    per_byte = 8 // depth
    raw = bytearray()
    for y in range(height):
        raw.append(0)  # no filter
        row = indices[y * width:(y + 1) * width]
        for start in range(0, width, per_byte):
            byte = 0
            for k, index in enumerate(row[start:start + per_byte]):
                byte |= index << (8 - depth * (k + 1))
            raw.append(byte)
    data = b"\x89PNG\r\n\x1a\n"
    data += png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, 3, 0, 0, 0))
    data += png_chunk(b"PLTE", b"".join(bytes(colour) for colour in palette))
    if transparent_index is not None:
        alphas = [255] * len(palette)
        alphas[transparent_index] = 0
        data += png_chunk(b"tRNS", bytes(alphas[:transparent_index + 1]))
    data += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += png_chunk(b"IEND", b"")
    write_file(path, data)


def lzw_encode(indices, min_code_size):
    """GIF's variable-length LZW, codes packed least significant bit first."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bit_buffer, bit_count = bytearray(), 0, 0
    code_size = min_code_size + 1

    def emit(code):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += code_size
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    emit(clear)
    current = (indices[0],)
    for index in indices[1:]:
        candidate = current + (index,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        current = (index,)
    emit(table[current])
    emit(end)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def write_gif(path, width, height, palette, indices, transparent_index):
    """A GIF89a with one image and one transparent palette colour."""
    bits = max(1, (len(palette) - 1).bit_length())
    table = list(palette) + [(0, 0, 0)] * ((1 << bits) - len(palette))
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | (bits - 1), 0, 0)
    data += b"".join(bytes(colour) for colour in table)
    data += b"\x21\xf9\x04\x01\x00\x00" + bytes((transparent_index,)) + b"\x00"
    data += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    min_code_size = max(2, bits)
    encoded = lzw_encode(indices, min_code_size)
    data += bytes((min_code_size,))
    for start in range(0, len(encoded), 255):
        block = encoded[start:start + 255]
        data += bytes((len(block),)) + block
    data += b"\x00\x3b"
    write_file(path, data)


def write_ico_4bit(path, size, palette, indices, transparent_index):
    """A Windows icon holding one 16-colour bitmap with its transparency mask."""
    colours = list(palette) + [(0, 0, 0)] * (16 - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    colour_rows, mask_rows = [], []
    mask_stride = ((size + 31) // 32) * 4
    for y in range(size - 1, -1, -1):  # bitmaps are stored bottom row first
        row = indices[y * size:(y + 1) * size]
        pixels = [0 if i == transparent_index else i for i in row]
        colour_rows.append(bytes((pixels[x] << 4) | pixels[x + 1] for x in range(0, size, 2)))
        mask = bytearray(mask_stride)
        for x, index in enumerate(row):
            if index == transparent_index:
                mask[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(bytes(mask))
    image = header + table + b"".join(colour_rows) + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    directory += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    write_file(path, directory + image)


def write_jpeg(path, canvas):
    """Encodes a canvas, laid on white, as a JPEG without metadata and without colour
    subsampling, so that coloured edges and small letters stay sharp."""
    header = f"P6\n{canvas.width} {canvas.height}\n255\n".encode()
    subprocess.run(["convert", "ppm:-", "-strip", "-quality", JPEG_QUALITY,
                    "-sampling-factor", "1x1", "jpeg:" + path],
                   input=header + canvas.rgb_bytes(), check=True)


def write_file(path, data):
    with open(path, "wb") as handle:
        handle.write(data)


def quantise(canvas, palette, transparent_index, alpha_threshold=0.5):
    """Maps every pixel to the nearest palette colour; faint pixels become transparent."""
    indices = []
    for r, g, b, a in canvas.pixels:
        if a < alpha_threshold:
            indices.append(transparent_index)
            continue
        best = min((i for i in range(len(palette)) if i != transparent_index),
                   key=lambda i: sum((c - p) ** 2 for c, p in zip((r, g, b), palette[i])))
        indices.append(best)
    return indices


# --------------------------------------------------------------------------------------------
# The mosaic mark: a 3 x 3 grid of tiles whose corner tile slides out, a file cut into pieces.
# --------------------------------------------------------------------------------------------

MOSAIC_COLOURS = [BLUE_PALE, BLUE_LIGHT, BLUE, BLUE_DEEP]


def draw_mosaic(canvas, left, top, tile, gap, radius, loose_shift):
    for row in range(3):
        for col in range(3):
            x = left + col * (tile + gap)
            y = top + row * (tile + gap)
            if row == 2 and col == 2:
                colour = ACCENT
                x += loose_shift
                y += loose_shift
            else:
                colour = MOSAIC_COLOURS[min(row + col, 3)]
            canvas.fill(rounded_rect(x, y, x + tile, y + tile, radius), colour,
                        (x - 1, y - 1, x + tile + 1, y + tile + 1))


# A bar of small tiles along the foot of the banners, the same motif in a line.
def draw_tile_bar(canvas, top, height, tile_width, gap):
    colours = [BLUE, BLUE_LIGHT, BLUE_PALE, BLUE_LIGHT]
    x, k = 0, 0
    while x < canvas.width:
        canvas.fill(rounded_rect(x, top, x + tile_width, top + height, 0.8), colours[k % 4],
                    (x, top, x + tile_width, top + height))
        x += tile_width + gap
        k += 1


# --------------------------------------------------------------------------------------------
# The pictures.
# --------------------------------------------------------------------------------------------


def make_banner(folder):
    # 420 x 28; the window shows columns 23 to 405 of it, so the mark and name sit well inside.
    canvas = Canvas(420, 28, WHITE)
    draw_mosaic(canvas, 46, 3, 5, 2, 1.2, 1)
    Word("Tessel", 18, 0.4).draw(canvas, 72, 19, NAVY)
    Word("split and join files", 11).draw(canvas, 136, 19, SLATE)
    draw_tile_bar(canvas, 25, 3, 14, 2)
    write_jpeg(os.path.join(folder, "banner.jpg"), canvas)


def make_message_banner(folder):
    # 238 x 35, shown from 10 px left and 2 px above the dialog, which is 226 px wide.
    canvas = Canvas(238, 35, WHITE)
    draw_mosaic(canvas, 22, 7, 5, 2, 1.2, 1)
    Word("Message", 16, 0.3).draw(canvas, 48, 23, NAVY)
    draw_tile_bar(canvas, 31, 3, 14, 2)
    write_jpeg(os.path.join(folder, "message_banner.jpg"), canvas)


def draw_button(canvas, fill_top, fill_bottom, edge, shade, radius):
    """A rounded button one pixel inside the picture, with a thin darker foot for depth."""
    w, h = canvas.width, canvas.height
    canvas.fill(rounded_rect(1, 1, w - 1, h - 1, radius), shade)
    canvas.fill(rounded_rect(1, 1, w - 1, h - 2, radius), edge)
    canvas.fill(rounded_rect(2, 2, w - 2, h - 3, radius - 1),
                vertical_gradient(fill_top, fill_bottom, 2, h - 3))


def make_blue_button(folder, name, text):
    canvas = Canvas(127, 33, WHITE)
    draw_button(canvas, (0x3F, 0x80, 0xEC), (0x2C, 0x66, 0xD6), (0x2A, 0x62, 0xCE), BLUE_DEEP, 8)
    Word(text, 14, 1.6).draw_centred(canvas, 63.5, 15.5, WHITE)
    write_jpeg(os.path.join(folder, name), canvas)


def make_grey_button(folder, name, text):
    canvas = Canvas(91, 39, WHITE)
    draw_button(canvas, GREY_TOP, GREY_BOTTOM, GREY_EDGE, (0xA9, 0xB1, 0xBA), 8)
    Word(text, 15, 0.4).draw_centred(canvas, 45.5, 18.5, SLATE_TEXT)
    write_jpeg(os.path.join(folder, name), canvas)


# Small pixel pictures for the two push buttons: drawn pixel by pixel so that their edges stay
# crisp against whatever colour the button has; the background is the transparent colour.

CLEAR, OUTLINE, PAPER, FOLD, FOLDER_BACK, FOLDER_FRONT, FOLDER_LIGHT = range(7)
SMALL_PALETTE = [
    (0xFF, 0x00, 0xFF),  # transparent
    (0x5A, 0x66, 0x73),  # outline
    (0xFF, 0xFF, 0xFF),  # paper
    (0xD6, 0xDC, 0xE3),  # turned corner
    (0x98, 0xA1, 0xAC),  # folder back
    (0xB8, 0xC0, 0xC9),  # folder front
    (0xCF, 0xD5, 0xDC),  # folder front, lit upper edge
]


def make_open_file(folder):
    width, height = 23, 26
    grid = [[CLEAR] * width for _ in range(height)]
    left, top, right, bottom, ear = 3, 2, 19, 23, 6
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - left + (top + ear) - y > right - left:  # cut off by the turned corner
                continue
            edge = x in (left, right) or y in (top, bottom) or x - (right - ear) == y - top
            grid[y][x] = OUTLINE if edge else PAPER
    # The turned-down corner: a triangle below the diagonal, outlined.
    for y in range(top, top + ear + 1):
        for x in range(right - ear, right + 1):
            if x - (right - ear) <= y - top:
                on_edge = x == right - ear or y == top + ear or x - (right - ear) == y - top
                grid[y][x] = OUTLINE if on_edge else FOLD
    indices = [index for row in grid for index in row]
    write_gif(os.path.join(folder, "open_file.gif"), width, height, SMALL_PALETTE, indices, CLEAR)


def make_open_folder(folder):
    width, height = 26, 30
    grid = [[CLEAR] * width for _ in range(height)]

    def box(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                grid[y][x] = colour

    # Back panel with its tab, then the front panel laid over it, every part outlined.
    box(2, 7, 10, 9, OUTLINE)
    box(3, 8, 9, 9, FOLDER_BACK)
    box(2, 9, 23, 23, OUTLINE)
    box(3, 10, 22, 22, FOLDER_BACK)
    box(2, 12, 23, 23, OUTLINE)
    box(3, 13, 22, 22, FOLDER_FRONT)
    box(3, 13, 22, 13, FOLDER_LIGHT)
    # Rounded outer corners: the very corner pixels stay clear.
    for x, y in ((2, 7), (10, 7), (2, 23), (23, 23), (23, 9)):
        grid[y][x] = CLEAR
    indices = [index for row in grid for index in row]
    write_gif(os.path.join(folder, "open_folder.gif"), width, height, SMALL_PALETTE, indices,
              CLEAR)


# The window icon: the mosaic at 32 x 32 in at most 16 colours.

ICON_PALETTE = [(0, 0, 0), BLUE_PALE, BLUE_LIGHT, BLUE, BLUE_DEEP, ACCENT]


def make_icon(folder):
    canvas = Canvas(32, 32)
    draw_mosaic(canvas, 1, 1, 8, 2, 2.0, 2)
    indices = quantise(canvas, ICON_PALETTE, 0)
    write_png_indexed(os.path.join(folder, "tessel.png"), 32, 32, ICON_PALETTE, indices, 0)
    write_ico_4bit(os.path.join(folder, "tessel.ico"), 32, ICON_PALETTE, indices, 0)


# The pointing hand: index finger up with its tip at column 12, row 1 (the cursor's hot spot),
# the other fingers curled beside it and the thumb at the left. The hand's outline is black,
# its inside white, with grey creases and shading.

HAND_CLEAR, HAND_BLACK, HAND_WHITE, HAND_SHADE, HAND_CUFF = range(5)
HAND_PALETTE = [(0, 0, 0), (0x10, 0x14, 0x18), (0xFF, 0xFF, 0xFF), (0xC9, 0xCF, 0xD6),
                (0x8C, 0x96, 0xA1)]
HOT_SPOT = (12, 1)


def hand_parts():
    index_finger = capsule(12.5, 4.7, 12.5, 18.0, 3.45)
    middle = capsule(17.8, 13.9, 17.8, 20.0, 2.75)
    ring = capsule(22.6, 14.9, 22.6, 20.0, 2.75)
    little = capsule(26.9, 16.6, 26.9, 21.0, 2.35)
    thumb = capsule(5.6, 15.6, 10.5, 22.0, 2.6)
    palm = rounded_rect(8.0, 16.0, 29.7, 28.0, 4.0)
    cuff = rounded_rect(11.0, 28.0, 26.0, 31.0, 0.5)
    return [index_finger, middle, ring, little, thumb, palm], cuff


def make_hand(folder):
    size = 32
    parts, cuff = hand_parts()
    hand = union(*parts)

    def sample(shape, x, y):
        return 0 <= x < size and 0 <= y < size and shape(x + 0.5, y + 0.5)

    grid = [[HAND_CLEAR] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            if sample(cuff, x, y):
                grid[y][x] = HAND_CUFF
            elif sample(hand, x, y):
                grid[y][x] = HAND_WHITE
    # Outline every filled pixel that touches the outside (or the cuff, for the wrist line).
    outline = []
    for y in range(size):
        for x in range(size):
            if grid[y][x] == HAND_CLEAR:
                continue
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                nx, ny = x + dx, y + dy
                outside = not (0 <= nx < size and 0 <= ny < size) or grid[ny][nx] == HAND_CLEAR
                wrist = (0 <= nx < size and 0 <= ny < size and
                         {grid[y][x], grid[ny][nx]} == {HAND_WHITE, HAND_CUFF})
                if outside or wrist:
                    outline.append((x, y))
                    break
    for x, y in outline:
        grid[y][x] = HAND_BLACK
    # Creases between the index finger and the curled fingers, and between the curled fingers.
    for x, y0, y1 in ((15, 11, 18), (20, 13, 18), (25, 15, 19)):
        for y in range(y0, y1 + 1):
            if grid[y][x] == HAND_WHITE:
                grid[y][x] = HAND_BLACK
    # A soft shade down the right side of every white area, for a little depth.
    for y in range(size):
        for x in range(size - 1):
            if grid[y][x] == HAND_WHITE and grid[y][x + 1] == HAND_BLACK and x > 0 and \
                    grid[y][x - 1] == HAND_WHITE:
                grid[y][x] = HAND_SHADE
    if grid[HOT_SPOT[1]][HOT_SPOT[0]] != HAND_BLACK or any(grid[0]):
        sys.exit("the hand's fingertip is not at the hot spot")
    indices = [index for row in grid for index in row]
    write_png_indexed(os.path.join(folder, "hand.png"), size, size, HAND_PALETTE, indices,
                      HAND_CLEAR)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "ui", "resources")
    if not os.path.isfile(FONT_BOLD):
        sys.exit(f"missing {FONT_BOLD}: install fonts-liberation (scripts/setup.sh)")
    os.makedirs(folder, exist_ok=True)
    make_banner(folder)
    make_message_banner(folder)
    make_blue_button(folder, "break.jpg", "BREAK")
    make_blue_button(folder, "join.jpg", "JOIN")
    make_grey_button(folder, "help.jpg", "Help")
    make_grey_button(folder, "exit.jpg", "Exit")
    make_open_file(folder)
    make_open_folder(folder)
    make_icon(folder)
    make_hand(folder)


if __name__ == "__main__":
    main()
