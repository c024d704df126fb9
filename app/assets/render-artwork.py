#!/usr/bin/env python3
"""Renders every image the installer shows, and its Windows icon, from nothing but code.

Run it with no arguments after changing the artwork; it rewrites:

  vtui/images/vst_background.png  window background, 850x600 (also squeezed to 450x300)
  vtui/images/vst_logotype.png    the emblem, drawn 90x65, rendered at 2x
  vtui/images/vst_close.png       close button cross, drawn 10x9, rendered at 2x
  vtui/images/vst_hide.png        minimise button bar, drawn 11x3, rendered at 2x
  vtui/images/vst_fg.png          glass panel behind the first installation's texts, 800x381
  icon/vestrel-<N>.png            the icon at each size Windows asks for
  icon/vestrel.ico                the same images in one icon file

Only the standard library is used, so any machine with python3 can regenerate the files (PNG
and ICO are written by hand with zlib and struct). Randomness comes from one fixed seed, so two
runs give byte-identical files and a diff of the PNGs means the drawing really changed.
"""

import math
import os
import random
import struct
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES_DIR = os.path.join(HERE, "vtui", "images")
ICON_DIR = os.path.join(HERE, "icon")
ICON_SIZES = (16, 20, 24, 32, 40, 48, 60, 64, 72, 80, 96, 128, 256)
SEED = 0x5E57E1


def clamp01(v):
    return 0.0 if v < 0.0 else (1.0 if v > 1.0 else v)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def rgb(hex_text):
    """'#rrggbb' to floats in 0..1, so the palette below reads like a design tool's."""
    v = int(hex_text.lstrip("#"), 16)
    return ((v >> 16) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0)


def smoothstep(e0, e1, v):
    t = clamp01((v - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


# ---------------------------------------------------------------------------------------------
# Palette. The background, the panel and the icon tile share the night colours; the emblem is
# the only warm thing on screen so the eye lands on it first.

NIGHT_TOP = rgb("#070a1c")
NIGHT_MID = rgb("#141436")
NIGHT_LOW = rgb("#2a1a55")
NIGHT_FLOOR = rgb("#3a1f63")
HORIZON_GLOW = rgb("#b4508f")
COLD_GLOW = rgb("#3050b0")
RIM_LIGHT = rgb("#d98ad0")

GOLD_LIGHT = rgb("#ffeebf")
GOLD_BRIGHT = rgb("#f7d27a")
GOLD_MID = rgb("#e3a948")
GOLD_DEEP = rgb("#b9772c")


# ---------------------------------------------------------------------------------------------
# Canvas and compositing. Pixels are premultiplied RGBA floats so "over" and additive layers
# stay exact at anti-aliased edges; quantising to bytes happens once, at the end.


class Canvas:
    def __init__(self, width, height):
        self.w = width
        self.h = height
        n = width * height
        self.r = [0.0] * n
        self.g = [0.0] * n
        self.b = [0.0] * n
        self.a = [0.0] * n

    def fill(self, coverage, paint, additive=False):
        """Paints `paint` through a coverage map ({row: (x0, [cov, ...])}).

        `paint` is an (r, g, b, a) tuple or a function (x, y) -> (r, g, b, a) sampled at the
        pixel centre. Additive mode sums coverage instead of layering it: shapes that tile a
        region without overlap (the emblem's facets) then meet without a hairline seam.
        """
        w = self.w
        R, G, B, A = self.r, self.g, self.b, self.a
        constant = not callable(paint)
        if constant:
            pr, pg, pb, pa = paint
        for y, (x0, covs) in coverage.items():
            base = y * w
            cy = y + 0.5
            for i, c in enumerate(covs):
                if c <= 0.0:
                    continue
                x = x0 + i
                if not constant:
                    pr, pg, pb, pa = paint(x + 0.5, cy)
                k = clamp01(c) * pa
                j = base + x
                if additive:
                    R[j] += pr * k
                    G[j] += pg * k
                    B[j] += pb * k
                    A[j] += k
                else:
                    keep = 1.0 - k
                    R[j] = pr * k + R[j] * keep
                    G[j] = pg * k + G[j] * keep
                    B[j] = pb * k + B[j] * keep
                    A[j] = k + A[j] * keep

    def draw(self, layer, opacity=1.0, mask=None):
        """Layers another canvas of the same size over this one, optionally through `mask`
        (a canvas whose alpha limits where `layer` shows)."""
        R, G, B, A = self.r, self.g, self.b, self.a
        lr, lg, lb, la = layer.r, layer.g, layer.b, layer.a
        ma = mask.a if mask is not None else None
        for j in range(self.w * self.h):
            k = la[j]
            if k <= 0.0:
                continue
            s = opacity * (ma[j] if ma is not None else 1.0)
            if s <= 0.0:
                continue
            k *= s
            keep = 1.0 - min(1.0, k)
            R[j] = lr[j] * s + R[j] * keep
            G[j] = lg[j] * s + G[j] * keep
            B[j] = lb[j] * s + B[j] * keep
            A[j] = k + A[j] * keep

    def rows_rgba(self):
        """Unpremultiplied 8-bit rows for the PNG writer."""
        rows = []
        w = self.w
        for y in range(self.h):
            row = bytearray(w * 4)
            for x in range(w):
                j = y * w + x
                a = clamp01(self.a[j])
                if a <= 0.0:
                    continue
                inv = 1.0 / a
                row[4 * x] = int(clamp01(self.r[j] * inv) * 255.0 + 0.5)
                row[4 * x + 1] = int(clamp01(self.g[j] * inv) * 255.0 + 0.5)
                row[4 * x + 2] = int(clamp01(self.b[j] * inv) * 255.0 + 0.5)
                row[4 * x + 3] = int(a * 255.0 + 0.5)
            rows.append(bytes(row))
        return rows


# ---------------------------------------------------------------------------------------------
# Coverage. Polygons are scan-converted with several sub-scanlines per pixel row, each span's
# horizontal coverage computed exactly; round shapes use a signed distance, which gives a
# clean one-pixel ramp at any size without supersampling.


def polygon_coverage(polygons, width, height, sub=5):
    """Nonzero-winding coverage of a set of polygons, as {row: (x0, [cov, ...])}."""
    edges = []
    for poly in polygons:
        n = len(poly)
        for i in range(n):
            x0, y0 = poly[i]
            x1, y1 = poly[(i + 1) % n]
            if y0 == y1:
                continue
            winding = 1
            if y0 > y1:
                x0, y0, x1, y1 = x1, y1, x0, y0
                winding = -1
            edges.append((y0, y1, x0, (x1 - x0) / (y1 - y0), winding))
    if not edges:
        return {}
    top = max(0, int(math.floor(min(e[0] for e in edges))))
    bottom = min(height, int(math.ceil(max(e[1] for e in edges))))
    weight = 1.0 / sub
    out = {}
    for py in range(top, bottom):
        acc = [0.0] * (width + 1)
        touched = False
        for s in range(sub):
            sy = py + (s + 0.5) * weight
            xs = [(x0 + (sy - y0) * k, wd) for (y0, y1, x0, k, wd) in edges if y0 <= sy < y1]
            if not xs:
                continue
            xs.sort()
            winding = 0
            start = 0.0
            for x, wd in xs:
                was_inside = winding != 0
                winding += wd
                if not was_inside and winding != 0:
                    start = x
                elif was_inside and winding == 0:
                    a = max(0.0, start)
                    b = min(float(width), x)
                    if b <= a:
                        continue
                    touched = True
                    ia = int(a)
                    ib = int(b)
                    if ia == ib:
                        acc[ia] += (b - a) * weight
                    else:
                        acc[ia] += (ia + 1 - a) * weight
                        for i in range(ia + 1, ib):
                            acc[i] += weight
                        acc[ib] += (b - ib) * weight
        if touched:
            first = 0
            while first < width and acc[first] <= 0.0:
                first += 1
            last = width - 1
            while last > first and acc[last] <= 0.0:
                last -= 1
            out[py] = (first, acc[first:last + 1])
    return out


def distance_coverage(distance, box, width, height):
    """Coverage of the shape whose signed distance (negative inside) is `distance(x, y)`,
    evaluated over `box` = (x0, y0, x1, y1) only."""
    x0 = max(0, int(math.floor(box[0])))
    y0 = max(0, int(math.floor(box[1])))
    x1 = min(width, int(math.ceil(box[2])))
    y1 = min(height, int(math.ceil(box[3])))
    out = {}
    for y in range(y0, y1):
        cy = y + 0.5
        covs = [clamp01(0.5 - distance(x + 0.5, cy)) for x in range(x0, x1)]
        if any(c > 0.0 for c in covs):
            out[y] = (x0, covs)
    return out


def rounded_rect_distance(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) * 0.5, (y0 + y1) * 0.5
    hx, hy = (x1 - x0) * 0.5 - radius, (y1 - y0) * 0.5 - radius

    def distance(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return distance


def segment_distance(ax, ay, bx, by, half_width):
    """A stroke with round caps: the distance to the segment minus half the stroke."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def distance(x, y):
        t = clamp01(((x - ax) * dx + (y - ay) * dy) / length2)
        return math.hypot(x - ax - dx * t, y - ay - dy * t) - half_width

    return distance


# ---------------------------------------------------------------------------------------------
# The emblem: a kestrel seen head-on with its wings raised, which is also a "V". Each wing is
# three nested chevron blades whose tips are staggered like the long primary feathers; a small
# diamond between the inner tips is the head. Every blade is cut lengthwise into a lit and a
# shaded facet, lit from the upper left, which gives the flat shapes a folded-metal look.


def _line_hit(p, d, q, e):
    """Intersection of the lines p + s*d and q + t*e."""
    den = d[0] * e[1] - d[1] * e[0]
    s = ((q[0] - p[0]) * e[1] - (q[1] - p[1]) * e[0]) / den
    return (p[0] + d[0] * s, p[1] + d[1] * s)


def emblem_facets(detail):
    """The emblem in design units (mirror line x = 0, y down), as [(polygon, tone), ...].

    `detail` 2 is the full mark; 1 drops to two thicker blades and 0 to a single solid V, for
    icon sizes where thin blades and gaps would blur into mud.
    """
    # Each blade of the left wing: where its outer and inner edges cross the mirror line, their
    # angles from the vertical in degrees, and the height of its tip. The outer edges lean out
    # more than the inner ones, so the blades fan open like spread primaries instead of
    # stacking like parallel stripes.
    if detail >= 2:
        blades = [
            (100.0, 36.0, 85.0, 32.0, 0.0),
            (77.0, 29.5, 64.0, 25.5, 9.0),
            (56.0, 23.0, 45.0, 19.0, 19.0),
        ]
    elif detail == 1:
        blades = [
            (100.0, 35.0, 80.0, 29.0, 0.0),
            (70.0, 25.0, 50.0, 18.5, 12.0),
        ]
    else:
        blades = [(100.0, 34.0, 58.0, 21.0, 4.0)]

    def edge(cross_y, degrees):
        a = math.radians(degrees)
        return (0.0, cross_y), (-math.sin(a), -math.cos(a))

    across = (1.0, 0.0)
    facets = []
    for out_y, out_deg, in_y, in_deg, top_y in blades:
        outer = edge(out_y, out_deg)
        inner = edge(in_y, in_deg)
        fold = edge((out_y + in_y) * 0.5, (out_deg + in_deg) * 0.5)
        o_top = _line_hit(outer[0], outer[1], (0.0, top_y), across)
        # The top is cut on a slant, dropping towards the middle, which sharpens the outer
        # corner into a feather tip.
        cut = (1.0, 0.5)
        i_top = _line_hit(inner[0], inner[1], o_top, cut)
        f_top = _line_hit(fold[0], fold[1], o_top, cut)
        o_mid, f_mid, i_mid = outer[0], fold[0], inner[0]
        left_outer = [o_mid, o_top, f_top, f_mid]
        left_inner = [f_mid, f_top, i_top, i_mid]
        # With the light from the upper left, the left wing's outer facet faces it and the
        # right wing's inner facet faces away; the other two sit in between.
        facets.append((left_outer, "lit"))
        facets.append((left_inner, "mid"))
        facets.append(([(-x, y) for x, y in left_outer], "mid"))
        facets.append(([(-x, y) for x, y in left_inner], "shade"))

    if detail >= 1:
        # The head: a diamond riding in the notch between the inner tips, lifted far enough
        # above the point where the inner blades meet that its sides stay clear of them.
        notch = blades[-1][2]
        gap = 14.0 if detail >= 2 else 15.0
        half_h = 10.5 if detail >= 2 else 11.0
        half_w = 5.6 if detail >= 2 else 6.0
        cy = notch - gap - half_h
        top, mid, low = (0.0, cy - half_h), cy, (0.0, cy + half_h)
        facets.append(([top, (-half_w, mid), low], "lit"))
        facets.append(([top, low, (half_w, mid)], "shade"))
    return facets


# Each tone is a (top, bottom) pair: a vertical sheen across the whole mark on top of the
# facet shading.
EMBLEM_TONES = {
    "lit": (GOLD_LIGHT, GOLD_BRIGHT),
    "mid": (GOLD_BRIGHT, GOLD_MID),
    "shade": (GOLD_MID, GOLD_DEEP),
}


def emblem_bounds(facets):
    xs = [x for poly, _ in facets for x, _ in poly]
    ys = [y for poly, _ in facets for _, y in poly]
    return min(xs), min(ys), max(xs), max(ys)


def draw_emblem(canvas, box, detail=2, tones=None, sub=6):
    """Draws the emblem fitted and centred in box = (x0, y0, x1, y1)."""
    facets = emblem_facets(detail)
    ex0, ey0, ex1, ey1 = emblem_bounds(facets)
    scale = min((box[2] - box[0]) / (ex1 - ex0), (box[3] - box[1]) / (ey1 - ey0))
    ox = (box[0] + box[2]) * 0.5 - (ex0 + ex1) * 0.5 * scale
    oy = (box[1] + box[3]) * 0.5 - (ey0 + ey1) * 0.5 * scale
    top = oy + ey0 * scale
    span = (ey1 - ey0) * scale
    tones = tones or EMBLEM_TONES
    layer = Canvas(canvas.w, canvas.h)
    for poly, tone in facets:
        placed = [(ox + x * scale, oy + y * scale) for x, y in poly]
        light, dark = tones[tone]

        def paint(x, y, light=light, dark=dark):
            c = mix(light, dark, clamp01((y - top) / span))
            return (c[0], c[1], c[2], 1.0)

        cov = polygon_coverage([placed], canvas.w, canvas.h, sub)
        layer.fill(cov, paint, additive=True)
    canvas.draw(layer)


# ---------------------------------------------------------------------------------------------
# Output: PNG and ICO writers.


def _png_filter(rows, bpp):
    """Per-row adaptive filtering (the usual minimum-sum heuristic) so the gradients compress
    to a fraction of their raw size."""
    out = bytearray()
    prev = bytes(len(rows[0]))
    for row in rows:
        n = len(row)
        sub = bytes((row[i] - (row[i - bpp] if i >= bpp else 0)) & 255 for i in range(n))
        up = bytes((row[i] - prev[i]) & 255 for i in range(n))
        avg = bytes(
            (row[i] - (((row[i - bpp] if i >= bpp else 0) + prev[i]) >> 1)) & 255 for i in range(n)
        )
        best = None
        for kind, data in ((0, row), (1, sub), (2, up), (3, avg)):
            score = sum(v if v < 128 else 256 - v for v in data)
            if best is None or score < best[0]:
                best = (score, kind, data)
        out.append(best[1])
        out += best[2]
        prev = row
    return bytes(out)


def encode_png(width, height, rows, channels):
    def chunk(kind, data):
        body = kind + data
        crc = zlib.crc32(body) & 0xFFFFFFFF
        return struct.pack(">I", len(data)) + body + struct.pack(">I", crc)

    color_type = {3: 2, 4: 6}[channels]
    header = struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0)
    data = zlib.compress(_png_filter(rows, channels), 9)
    signature = b"\x89PNG\r\n\x1a\n"
    return signature + chunk(b"IHDR", header) + chunk(b"IDAT", data) + chunk(b"IEND", b"")


def encode_ico(images):
    """An icon file holding PNG-compressed images: [(size, png_bytes), ...]."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    payload = b""
    for size, png in images:
        byte_size = 0 if size >= 256 else size  # the format spells 256 as 0
        entries += struct.pack("<BBBBHHII", byte_size, byte_size, 0, 0, 1, 32, len(png), offset)
        payload += png
        offset += len(png)
    return header + entries + payload


written = []


def save(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    written.append((path, len(data)))


def save_canvas(path, canvas):
    save(path, encode_png(canvas.w, canvas.h, canvas.rows_rgba(), 4))


# ---------------------------------------------------------------------------------------------
# The images.


def ridgeline(rnd, width, base_y, amplitude, peaks):
    """A mountain range's skyline as polyline points: alternating peaks and saddles, each
    slope broken once by a shoulder so the ranges look cut rather than zig-zagged."""
    step = width / peaks
    xs = [-rnd.uniform(20.0, 0.6 * step)]
    ys = [base_y - amplitude * rnd.uniform(0.0, 0.3)]
    peak = True
    while xs[-1] < width + 20.0:
        x = xs[-1] + step * rnd.uniform(0.25, 0.75)
        y = base_y - amplitude * (rnd.uniform(0.4, 1.0) if peak else rnd.uniform(0.0, 0.3))
        mid_x = (xs[-1] + x) * 0.5 + step * rnd.uniform(-0.08, 0.08)
        mid_y = (ys[-1] + y) * 0.5 + amplitude * rnd.uniform(-0.12, 0.12)
        xs += [mid_x, x]
        ys += [mid_y, y]
        peak = not peak
    return xs, ys


BAYER4 = (0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5)


def render_background(width=850, height=600):
    """The night sky over a range of faceted hills.

    Built as opaque RGB floats: a vertical gradient, a few wide glows, stars, three hill layers
    and a vignette. The top hundred rows carry the logo and the window buttons, so stars there
    are fewer, dimmer and kept out of those corners. Everything is soft enough to survive being
    squeezed to 450x300 for the compact layout.
    """
    rnd = random.Random(SEED)
    n = width * height
    R = [0.0] * n
    G = [0.0] * n
    B = [0.0] * n

    # Sky: a gradient with its stops bunched low, so most of the height is deep night and the
    # violet only gathers near the horizon.
    stops = ((0.0, NIGHT_TOP), (0.42, NIGHT_MID), (0.78, NIGHT_LOW), (1.0, NIGHT_FLOOR))

    def sky(v):
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if v <= p1:
                return mix(c0, c1, smoothstep(p0, p1, v))
        return stops[-1][1]

    # Glows: (centre x, centre y, radius x, radius y, colour, strength), added in "screen"
    # mode so they brighten without ever clipping to flat white.
    glows = (
        (610.0, 560.0, 560.0, 230.0, HORIZON_GLOW, 0.60),
        (650.0, 490.0, 240.0, 90.0, rgb("#e58fb8"), 0.22),
        (120.0, 600.0, 420.0, 250.0, COLD_GLOW, 0.30),
        (430.0, 260.0, 520.0, 300.0, NIGHT_LOW, 0.18),
    )
    # A faint band of galaxy light across the sky, mottled by a few crossed sine waves so it
    # reads as dust rather than a ruled stripe; more faint stars gather along it below.
    band_from, band_to = (880.0, 120.0), (-40.0, 410.0)
    band_len = math.hypot(band_to[0] - band_from[0], band_to[1] - band_from[1])
    band_dir = ((band_to[0] - band_from[0]) / band_len, (band_to[1] - band_from[1]) / band_len)
    band_half_width = 70.0
    band_color = rgb("#8c7ee0")
    for y in range(height):
        base = sky((y + 0.5) / height)
        header_calm = smoothstep(40.0, 140.0, y)
        for x in range(width):
            r, g, b = base
            across = (x - band_from[0]) * band_dir[1] - (y - band_from[1]) * band_dir[0]
            q = across / band_half_width
            if q * q < 9.0:
                along = (x - band_from[0]) * band_dir[0] + (y - band_from[1]) * band_dir[1]
                mottle = 0.62 + 0.38 * math.sin(along * 0.021 + across * 0.05) * math.sin(
                    along * 0.047 - across * 0.031 + 1.3
                )
                k = 0.11 * header_calm * mottle * math.exp(-q * q)
                r = 1.0 - (1.0 - r) * (1.0 - band_color[0] * k)
                g = 1.0 - (1.0 - g) * (1.0 - band_color[1] * k)
                b = 1.0 - (1.0 - b) * (1.0 - band_color[2] * k)
            for gx, gy, rx, ry, color, strength in glows:
                dx = (x - gx) / rx
                dy = (y - gy) / ry
                d2 = dx * dx + dy * dy
                if d2 < 6.0:
                    k = strength * math.exp(-2.2 * d2)
                    r = 1.0 - (1.0 - r) * (1.0 - color[0] * k)
                    g = 1.0 - (1.0 - g) * (1.0 - color[1] * k)
                    b = 1.0 - (1.0 - b) * (1.0 - color[2] * k)
            j = y * width + x
            R[j], G[j], B[j] = r, g, b

    def add_light(cx, cy, sigma, color, intensity):
        """Adds a round Gaussian spot of light. Even the smallest stars spread over a few
        pixels, so they survive the compact layout's squeeze instead of flickering out."""
        reach = sigma * 3.0
        x0, x1 = max(0, int(cx - reach)), min(width, int(cx + reach) + 2)
        y0, y1 = max(0, int(cy - reach)), min(height, int(cy + reach) + 2)
        inv = 1.0 / (2.0 * sigma * sigma)
        for y in range(y0, y1):
            dy2 = (y + 0.5 - cy) ** 2
            for x in range(x0, x1):
                k = intensity * math.exp(-((x + 0.5 - cx) ** 2 + dy2) * inv)
                if k < 0.002:
                    continue
                j = y * width + x
                R[j] += color[0] * k
                G[j] += color[1] * k
                B[j] += color[2] * k

    # Stars. Brightness follows a steep power law: a dust of faint ones and a handful that
    # catch the eye. Their tints range from cold blue-white to a faint warm white.
    keep_clear = ((20, 10, 150, 100), (715, 25, 790, 65))  # behind the logo and the buttons
    placed = 0
    while placed < 340:
        x = rnd.uniform(4.0, width - 4.0)
        y = rnd.uniform(4.0, height * 0.86)
        if any(a <= x <= c and b <= y <= d for a, b, c, d in keep_clear):
            continue
        # Fade towards the horizon glow, and keep the header calm.
        fade = 1.0 - smoothstep(0.45, 0.85, y / height)
        if y < 100.0:
            fade *= 0.55
        if rnd.random() > fade:
            continue
        brightness = 0.12 + 0.88 * rnd.random() ** 4.0
        tint = mix(rgb("#c4d2ff"), rgb("#fff1dc"), rnd.random())
        sigma = 0.55 + 0.6 * brightness
        add_light(x, y, sigma, tint, brightness * 0.9)
        if brightness > 0.72 and y > 100.0:
            add_light(x, y, sigma * 5.0, tint, brightness * 0.08)
        placed += 1

    # The galaxy band's own dust: many more small, faint stars, thickest along its middle.
    dust = 0
    while dust < 420:
        t = rnd.random()
        offset = rnd.gauss(0.0, band_half_width * 0.55)
        x = band_from[0] + band_dir[0] * band_len * t + band_dir[1] * offset
        y = band_from[1] + band_dir[1] * band_len * t - band_dir[0] * offset
        if not (2.0 < x < width - 2.0 and 110.0 < y < height * 0.8):
            continue
        tint = mix(rgb("#c4d2ff"), rgb("#e8dcff"), rnd.random())
        add_light(x, y, 0.55, tint, rnd.uniform(0.1, 0.35))
        dust += 1

    # Hills: three ridgelines of straight segments (the same faceted language as the emblem).
    # Each nearer layer is darker, lower and gentler, the way haze flattens distant ranges;
    # the far ones catch a rim of the glow rising behind them.
    layers = (
        (height - 122.0, 86.0, 3, rgb("#2b1e5e"), rgb("#22184d"), 0.55),
        (height - 78.0, 54.0, 5, rgb("#1a1440"), rgb("#120e2f"), 0.25),
        (height - 30.0, 30.0, 7, rgb("#0c0b22"), rgb("#08071a"), 0.0),
    )
    for base_y, amplitude, peaks, ridge_color, foot_color, rim in layers:
        xs, ys = ridgeline(rnd, width, base_y, amplitude, peaks)

        def ridge(x, xs=xs, ys=ys):
            for i in range(len(xs) - 1):
                if x <= xs[i + 1]:
                    t = (x - xs[i]) / (xs[i + 1] - xs[i])
                    return ys[i] + (ys[i + 1] - ys[i]) * t
            return ys[-1]

        top = int(min(ys))
        for x in range(width):
            heights = [ridge(x + (s + 0.5) / 4.0) for s in range(4)]
            h_mid = sum(heights) * 0.25
            for y in range(max(0, top - 1), height):
                cov = sum(clamp01(y + 1.0 - h) for h in heights) * 0.25
                if cov <= 0.0:
                    continue
                depth = clamp01((y - h_mid) / 90.0)
                c = mix(ridge_color, foot_color, depth)
                if rim > 0.0:
                    k = rim * math.exp(-max(0.0, y + 0.5 - h_mid) / 1.4)
                    c = mix(c, RIM_LIGHT, k)
                j = y * width + x
                R[j] += (c[0] - R[j]) * cov
                G[j] += (c[1] - G[j]) * cov
                B[j] += (c[2] - B[j]) * cov

    # Vignette, then an ordered dither so the long dark gradients do not band at 8 bits.
    rows = []
    for y in range(height):
        row = bytearray(width * 3)
        dy = (y - height * 0.45) / (height * 0.75)
        for x in range(width):
            dx = (x - width * 0.5) / (width * 0.62)
            shade = 1.0 - 0.42 * min(1.0, (dx * dx + dy * dy) ** 1.5)
            j = y * width + x
            d = (BAYER4[(y & 3) * 4 + (x & 3)] + 0.5) / 16.0
            row[3 * x] = min(255, int(R[j] * shade * 255.0 + d))
            row[3 * x + 1] = min(255, int(G[j] * shade * 255.0 + d))
            row[3 * x + 2] = min(255, int(B[j] * shade * 255.0 + d))
        rows.append(bytes(row))
    return encode_png(width, height, rows, 3)


def render_foreground(width=800, height=381):
    """A smoked-glass card for the first installation's texts, with a soft drop shadow, a
    hairline border catching light from above, a touch of gold at the top and the emblem as a
    faint watermark. The window's progress bar runs below the card, so nothing here reaches
    into its strip."""
    canvas = Canvas(width, height)
    x0, y0, x1, y1, radius = 20.0, 12.0, width - 20.0, height - 14.0, 16.0
    card = rounded_rect_distance(x0, y0, x1, y1, radius)
    everything = (0, 0, width, height)

    # Shadow: the card's outline pushed down a little and smeared over ~20 px.
    lifted = rounded_rect_distance(x0, y0 + 6.0, x1, y1 + 6.0, radius)
    shadow = {}
    for y in range(height):
        cy = y + 0.5
        covs = [0.5 - 0.5 * smoothstep(-8.0, 20.0, lifted(x + 0.5, cy)) for x in range(width)]
        shadow[y] = (0, covs)
    canvas.fill(shadow, (0.01, 0.0, 0.04, 1.0))

    body = distance_coverage(card, everything, width, height)
    top_fill, low_fill = rgb("#1b1940"), rgb("#0e0d26")

    def glass(x, y):
        t = clamp01((y - y0) / (y1 - y0))
        c = mix(top_fill, low_fill, t)
        return (c[0], c[1], c[2], 0.80 + 0.08 * t)

    canvas.fill(body, glass)

    # Sheen: a faint lift of the upper part, as if the glass caught the sky.
    sheen = {}
    for y, (sx, covs) in body.items():
        fade = 1.0 - smoothstep(y0, y0 + 150.0, y + 0.5)
        if fade > 0.0:
            sheen[y] = (sx, [c * fade for c in covs])
    canvas.fill(sheen, rgb("#b7b0ff") + (0.045,))

    # Watermark: the emblem in one pale tone, kept inside the card.
    mark = Canvas(width, height)
    pale = rgb("#cfc8ff")
    flat = {tone: (pale, pale) for tone in EMBLEM_TONES}
    draw_emblem(mark, (480.0, 70.0, 760.0, 340.0), detail=2, tones=flat, sub=3)
    inside = Canvas(width, height)
    inside.fill(body, (1.0, 1.0, 1.0, 1.0))
    canvas.draw(mark, opacity=0.03, mask=inside)

    # Border: a one-pixel line just inside the edge, brighter along the top.
    rim = distance_coverage(lambda x, y: abs(card(x, y) + 0.5) - 0.5, everything, width, height)
    edge = rgb("#b9b1ff")

    def rim_paint(x, y):
        return (edge[0], edge[1], edge[2], 0.30 - 0.18 * clamp01((y - y0) / 120.0))

    canvas.fill(rim, rim_paint)

    # The gold accent: the top edge glows warm at its centre and cools out to the corners.
    accent = {y: row for y, row in rim.items() if y < y0 + 3}

    def accent_paint(x, y):
        dx = (x - width * 0.5) / 190.0
        return (GOLD_BRIGHT[0], GOLD_BRIGHT[1], GOLD_BRIGHT[2], 0.85 * math.exp(-dx * dx))

    canvas.fill(accent, accent_paint)
    return canvas


def render_icon(size):
    """One icon size: the emblem on a night-coloured rounded tile. Small sizes get the simpler
    emblem and a relatively larger one, so the V still reads at 16 px."""
    canvas = Canvas(size, size)
    s = float(size)
    inset = 0.0 if size < 32 else s * 0.03
    radius = s * 0.22
    tile = rounded_rect_distance(inset, inset, s - inset, s - inset, radius)
    cov = distance_coverage(tile, (0, 0, size, size), size, size)

    def night(x, y):
        t = clamp01(y / s)
        c = mix(NIGHT_MID, NIGHT_LOW, t)
        dx = (x - s * 0.5) / (s * 0.55)
        dy = (y - s * 1.05) / (s * 0.5)
        k = 0.45 * math.exp(-(dx * dx + dy * dy))
        c = tuple(1.0 - (1.0 - v) * (1.0 - h * k) for v, h in zip(c, HORIZON_GLOW))
        return (c[0], c[1], c[2], 1.0)

    canvas.fill(cov, night)
    if size >= 32:
        def outline(x, y):
            return abs(tile(x, y) + 0.5) - 0.5

        rim = distance_coverage(outline, (0, 0, size, size), size, size)

        def rim_paint(x, y):
            return (0.75, 0.72, 1.0, 0.28 - 0.2 * clamp01(y / s))

        canvas.fill(rim, rim_paint)

    detail = 2 if size >= 48 else (1 if size >= 32 else 0)
    margin = s * (0.11 if size >= 48 else 0.07)
    draw_emblem(canvas, (margin, margin, s - margin, s - margin), detail=detail, sub=8)
    return canvas


def render_logotype():
    """180x130, drawn at 90x65 over the background's top-left corner."""
    canvas = Canvas(180, 130)
    draw_emblem(canvas, (5, 5, 175, 125), detail=2, sub=8)
    return canvas


def render_close():
    """20x18: a cross of two round-capped strokes reaching into the corners."""
    canvas = Canvas(20, 18)
    color = rgb("#ecebf4") + (1.0,)
    hw = 1.6
    a = segment_distance(3.2, 2.8, 16.8, 15.2, hw)
    b = segment_distance(16.8, 2.8, 3.2, 15.2, hw)
    cov = distance_coverage(lambda x, y: min(a(x, y), b(x, y)), (0, 0, 20, 18), 20, 18)
    canvas.fill(cov, color)
    return canvas


def render_hide():
    """22x6: one bar, as heavy as the close cross's strokes."""
    canvas = Canvas(22, 6)
    color = rgb("#ecebf4") + (1.0,)
    cov = distance_coverage(segment_distance(3.0, 3.0, 19.0, 3.0, 1.6), (0, 0, 22, 6), 22, 6)
    canvas.fill(cov, color)
    return canvas


def main():
    started = time.time()
    save(os.path.join(IMAGES_DIR, "vst_background.png"), render_background())
    save_canvas(os.path.join(IMAGES_DIR, "vst_logotype.png"), render_logotype())
    save_canvas(os.path.join(IMAGES_DIR, "vst_close.png"), render_close())
    save_canvas(os.path.join(IMAGES_DIR, "vst_hide.png"), render_hide())
    save_canvas(os.path.join(IMAGES_DIR, "vst_fg.png"), render_foreground())
    icons = []
    for size in ICON_SIZES:
        icon = render_icon(size)
        png = encode_png(size, size, icon.rows_rgba(), 4)
        save(os.path.join(ICON_DIR, "vestrel-%d.png" % size), png)
        icons.append((size, png))
    save(os.path.join(ICON_DIR, "vestrel.ico"), encode_ico(icons))
    for path, size in written:
        print("wrote %s (%d bytes)" % (os.path.relpath(path, HERE), size))
    print("done in %.1f s" % (time.time() - started))


if __name__ == "__main__":
    main()
