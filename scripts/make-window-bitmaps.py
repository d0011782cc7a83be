#!/usr/bin/env python3
"""Draws the installer window's pictures into app/resources/ (deterministic, standard library only).

  back.bmp           465 x 80, 256 colours, run-length encoded (BI_RLE8): the banner behind the
                     buttons (stretched by the window); 14 KB where 24 bits a pixel took 112 KB,
                     with a mean difference below one step a channel
  ok_glyphs.bmp      36 x 18, 32-bit premultiplied alpha: green check, then its disabled image
  cancel_glyphs.bmp  36 x 18, 32-bit premultiplied alpha: red cross, then its disabled image
  setup.ico          16, 32 and 48 pixels: the package emblem

Shapes are sampled 4 x 4 per pixel for smooth edges. Run again after changing a shape; the
outputs are committed so that building needs no Python.
"""
import math
import os
import struct
import sys

SAMPLES = 4


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(lerp(x, y, t) for x, y in zip(c1, c2))


def inside_polygon(x, y, points):
    result = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def segment_distance(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


class Canvas:
    """RGBA floats in 0..1 (straight alpha), origin top left."""

    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        self.pixels = [list(fill) for _ in range(width * height)]

    def blend(self, x, y, colour, coverage):
        if coverage <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        r, g, b = colour
        p = self.pixels[y * self.width + x]
        a_src = coverage
        a_out = a_src + p[3] * (1 - a_src)
        if a_out <= 0:
            return
        for k, c in enumerate((r, g, b)):
            p[k] = (c * a_src + p[k] * p[3] * (1 - a_src)) / a_out
        p[3] = a_out

    def fill_shape(self, covers, colour, box=None, offset=(0.0, 0.0)):
        """covers(x, y) -> bool in canvas coordinates; colour: (r, g, b) or a function of (x, y)."""
        x0, y0, x1, y1 = box or (0, 0, self.width, self.height)
        ox, oy = offset
        for y in range(max(0, int(y0)), min(self.height, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.width, int(math.ceil(x1)))):
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        px = x + (sx + 0.5) / SAMPLES - ox
                        py = y + (sy + 0.5) / SAMPLES - oy
                        if covers(px, py):
                            hits += 1
                if hits:
                    c = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                    self.blend(x, y, c, hits / (SAMPLES * SAMPLES))


def stroke(points, width):
    half = width / 2

    def covers(x, y):
        return any(segment_distance(x, y, points[i], points[i + 1]) <= half
                   for i in range(len(points) - 1))
    return covers


def polygon(points):
    return lambda x, y: inside_polygon(x, y, points)


# --- the package emblem: a gold box seen from above, tied with a darker band ---------------------

def emblem_faces(left, top, size):
    def p(u, v):
        return (left + u * size, top + v * size)
    faces = [
        ([p(0.5, 0.06), p(0.94, 0.29), p(0.5, 0.52), p(0.06, 0.29)], (1.00, 0.86, 0.50)),
        ([p(0.06, 0.29), p(0.5, 0.52), p(0.5, 0.96), p(0.06, 0.73)], (0.86, 0.63, 0.24)),
        ([p(0.5, 0.52), p(0.94, 0.29), p(0.94, 0.73), p(0.5, 0.96)], (0.66, 0.43, 0.12)),
    ]
    band_colour = (0.55, 0.16, 0.10)
    bands = [
        ([p(0.25, 0.18), p(0.33, 0.14), p(0.75, 0.36), p(0.67, 0.40)], band_colour),
        ([p(0.67, 0.40), p(0.75, 0.36), p(0.75, 0.80), p(0.67, 0.84)],
         mix(band_colour, (0, 0, 0), 0.25)),
    ]
    return faces + bands


def draw_emblem(canvas, left, top, size, shadow=True):
    box = (left - 2, top - 2, left + size + 4, top + size + 4)
    if shadow:
        outline = [(left + 0.5 * size, top + 0.06 * size), (left + 0.94 * size, top + 0.29 * size),
                   (left + 0.94 * size, top + 0.73 * size), (left + 0.5 * size, top + 0.96 * size),
                   (left + 0.06 * size, top + 0.73 * size), (left + 0.06 * size, top + 0.29 * size)]
        shifted = [(x + size * 0.04, y + size * 0.05) for x, y in outline]
        canvas.fill_shape(polygon(shifted), (0.12, 0.0, 0.02), box)
    for points, colour in emblem_faces(left, top, size):
        canvas.fill_shape(polygon(points), colour, box)


# --- the banner ---------------------------------------------------------------------------------

def draw_banner(width=465, height=80):
    top_left = (0.62, 0.05, 0.09)
    bottom_right = (0.24, 0.0, 0.03)

    def background(x, y):
        t = min(1.0, (x / width) * 0.7 + (y / height) * 0.3)
        base = mix(top_left, bottom_right, t)
        # A soft light sweeping across from the upper left.
        glow = math.exp(-(((x - 90) / 170) ** 2 + ((y + 10) / 70) ** 2))
        return mix(base, (0.85, 0.25, 0.22), 0.35 * glow)

    canvas = Canvas(width, height, (0.0, 0.0, 0.0, 1.0))
    for y in range(height):
        for x in range(width):
            canvas.pixels[y * width + x] = list(background(x + 0.5, y + 0.5)) + [1.0]
    # Thin diagonal sheen bands behind the buttons.
    for k, alpha in ((0, 0.06), (1, 0.045), (2, 0.03)):
        x0 = 250 + 46 * k
        band = [(x0, 0), (x0 + 18, 0), (x0 - 22, height), (x0 - 40, height)]
        cover = polygon(band)
        for y in range(height):
            for x in range(max(0, x0 - 45), min(width, x0 + 20)):
                hits = sum(cover(x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES)
                           for sy in range(SAMPLES) for sx in range(SAMPLES))
                if hits:
                    canvas.blend(x, y, (1.0, 0.9, 0.85), alpha * hits / SAMPLES ** 2)
    draw_emblem(canvas, 18, 10, 58)
    # A gold rule along the bottom edge, fading out to the right.
    for x in range(width):
        fade = 1.0 - 0.75 * (x / width)
        canvas.blend(x, height - 2, (0.86, 0.68, 0.32), 0.9 * fade)
        canvas.blend(x, height - 1, (0.45, 0.30, 0.10), 0.6 * fade)
    return canvas


# --- the button glyphs --------------------------------------------------------------------------

CHECK = [(3.6, 9.6), (7.4, 13.4), (14.6, 4.6)]
CROSS = ([(4.6, 4.6), (13.4, 13.4)], [(13.4, 4.6), (4.6, 13.4)])


def glyph_strip(strokes, light, dark):
    canvas = Canvas(36, 18)
    for points in strokes:
        canvas.fill_shape(stroke(points, 4.2), dark, (0, 0, 18, 18))
    for points in strokes:
        canvas.fill_shape(stroke(points, 2.6), lambda x, y: mix(light, dark, y / 30),
                          (0, 0, 18, 18))
    # Disabled: the classic engraved look, a white shape under a grey one shifted up-left.
    for points in strokes:
        canvas.fill_shape(stroke(points, 2.8), (1.0, 1.0, 1.0), (18, 0, 36, 18),
                          offset=(19.0, 1.0))
    for points in strokes:
        canvas.fill_shape(stroke(points, 2.8), (0.50, 0.50, 0.50), (18, 0, 36, 18),
                          offset=(18.0, 0.0))
    return canvas


# --- file writers -------------------------------------------------------------------------------

def to_byte(v):
    return max(0, min(255, int(round(v * 255))))


def bmp_rows(canvas, bits, premultiply=True):
    rows = []
    for y in reversed(range(canvas.height)):
        row = bytearray()
        for x in range(canvas.width):
            r, g, b, a = canvas.pixels[y * canvas.width + x]
            if bits == 32:
                # Glyphs are premultiplied, as AlphaBlend with AC_SRC_ALPHA expects; icons not.
                k = a if premultiply else 1.0
                row += bytes((to_byte(b * k), to_byte(g * k), to_byte(r * k), to_byte(a)))
            else:
                row += bytes((to_byte(b), to_byte(g), to_byte(r)))
        while len(row) % 4:
            row.append(0)
        rows.append(bytes(row))
    return b"".join(rows)


def write_bmp(path, canvas, bits):
    pixels = bmp_rows(canvas, bits)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, bits, 0, len(pixels),
                       4724, 4724, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def median_cut_palette(colours, size):
    """At most `size` colours for `colours` (a list of RGB byte triples): the box of colours with
    the widest channel range, weighted by its pixel count, is split at its median until there are
    `size` boxes; each box gives its mean colour. Deterministic."""
    boxes = [list(colours)]
    while len(boxes) < size:
        best = None
        for index, box in enumerate(boxes):
            if len(set(box)) < 2:
                continue
            ranges = [max(c[k] for c in box) - min(c[k] for c in box) for k in range(3)]
            score = max(ranges) * len(box)
            if best is None or score > best[0]:
                best = (score, index, ranges.index(max(ranges)))
        if best is None:
            break
        _, index, channel = best
        box = sorted(boxes.pop(index), key=lambda c: (c[channel], c))
        middle = len(box) // 2
        boxes += [box[:middle], box[middle:]]
    return [tuple(round(sum(c[k] for c in box) / len(box)) for k in range(3)) for box in boxes]


def rle8_rows(rows):
    """BI_RLE8 data: a run of two or more equal indexes as (count, index); stretches without
    such runs in absolute mode (0, count, indexes, padded to a 16-bit boundary), single pixels as
    runs of one; every row ends with (0, 0), the bitmap with (0, 1)."""
    out = bytearray()
    for row in rows:
        i, n = 0, len(row)
        while i < n:
            j = i
            while j < n and j - i < 255 and row[j] == row[i]:
                j += 1
            if j - i >= 2:
                out += bytes((j - i, row[i]))
                i = j
                continue
            k = i
            while k < n and k - i < 255 and not (k + 1 < n and row[k] == row[k + 1]):
                k += 1
            if k - i < 3:
                for t in range(i, k):
                    out += bytes((1, row[t]))
            else:
                out += bytes((0, k - i)) + bytes(row[i:k])
                if (k - i) % 2:
                    out.append(0)
            i = k
        out += b"\0\0"
    out += b"\0\1"
    return bytes(out)


def write_rle8_bmp(path, canvas, colours=256):
    pixels = [tuple(to_byte(v) for v in canvas.pixels[i][:3])
              for i in range(canvas.width * canvas.height)]
    palette = median_cut_palette(pixels, colours)
    nearest = {}

    def index_of(colour):
        if colour not in nearest:
            nearest[colour] = min(range(len(palette)), key=lambda i: sum(
                (colour[k] - palette[i][k]) ** 2 for k in range(3)))
        return nearest[colour]

    rows = [[index_of(pixels[y * canvas.width + x]) for x in range(canvas.width)]
            for y in reversed(range(canvas.height))]
    data = rle8_rows(rows)
    colour_table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 8, 1, len(data),
                       4724, 4724, len(palette), 0)
    offset = 14 + len(info) + len(colour_table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + colour_table + data)


def write_ico(path, canvases):
    images = []
    for canvas in canvases:
        xor = bmp_rows(canvas, 32, premultiply=False)
        mask_stride = ((canvas.width + 31) // 32) * 4
        and_mask = bytes(mask_stride * canvas.height)
        info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height * 2, 1, 32, 0,
                           len(xor) + len(and_mask), 0, 0, 0, 0)
        images.append((canvas, info + xor + and_mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, data in images:
        out += struct.pack("<BBBBHHII", canvas.width % 256, canvas.height % 256, 0, 0, 1, 32,
                           len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(data for _, data in images))


def icon_image(size):
    canvas = Canvas(size, size)
    draw_emblem(canvas, 0, 0, size - 1, shadow=False)
    return canvas


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "app", "resources")
    write_rle8_bmp(os.path.join(out, "back.bmp"), draw_banner())
    write_bmp(os.path.join(out, "ok_glyphs.bmp"),
              glyph_strip([CHECK], (0.35, 0.85, 0.35), (0.05, 0.45, 0.12)), 32)
    write_bmp(os.path.join(out, "cancel_glyphs.bmp"),
              glyph_strip(list(CROSS), (0.95, 0.35, 0.30), (0.60, 0.05, 0.05)), 32)
    write_ico(os.path.join(out, "setup.ico"), [icon_image(s) for s in (16, 32, 48)])


if __name__ == "__main__":
    main()
