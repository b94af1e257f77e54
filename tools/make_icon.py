#!/usr/bin/env python3
"""Draws the KelvoraDX program icon (32 x 32, 16 colours at most) as XPM.

Usage: make_icon.py [OUTPUT]   (writes to stdout without OUTPUT)

The drawing is plain arithmetic on a pixel grid, so every run gives the
same file byte for byte.
"""

import math
import sys

SIZE = 32

# One character per colour; the XPM is written in this order.
PALETTE = [
    ("c", "#00FFFF"),  # ground, even squares
    ("w", "#FFFFFF"),  # ground, odd squares; brightest highlight
    ("k", "#000000"),  # bomb body
    ("d", "#262626"),  # faint rim on the shadow side
    ("g", "#5E5E5E"),  # highlight, outer
    ("s", "#B4B4B4"),  # highlight, inner
    ("n", "#505050"),  # neck, shadow side
    ("m", "#909090"),  # neck, lit side
    ("f", "#7A4A1E"),  # fuse cord
    ("r", "#E00000"),  # spark, outer
    ("o", "#FF8C00"),  # spark, middle
    ("y", "#FFF040"),  # spark, core
]

# Ball geometry in pixel-centre coordinates.
BALL_CX, BALL_CY, BALL_R = 13.5, 18.5, 10.9
# Unit vector from the ball's centre towards the neck (upper right, 45 deg).
NECK_DIR = (math.sqrt(0.5), -math.sqrt(0.5))


def in_ball(x, y):
    return math.hypot(x - BALL_CX, y - BALL_CY) <= BALL_R


def ball_shade(x, y):
    # A gloss spot stretched along the rim plus a faint rim on the far side,
    # so the disc reads as a sphere lit from the upper left.
    rx, ry = x - BALL_CX, y - BALL_CY
    hx, hy = -5.2, -5.2
    dx, dy = rx - hx, ry - hy
    tangent = (dx - dy) * math.sqrt(0.5)
    normal = (dx + dy) * math.sqrt(0.5)
    d = math.hypot(tangent * 0.62, normal * 1.15)
    if d < 0.75:
        return "w"
    if d < 1.6:
        return "s"
    if d < 2.5:
        return "g"
    # The rim is the outermost ring of pixels on the side away from the light.
    edge = any(not in_ball(x + ex, y + ey)
               for ex, ey in ((1, 0), (-1, 0), (0, 1), (0, -1)))
    if edge and (rx + ry) * math.sqrt(0.5) > 0.45 * math.hypot(rx, ry):
        return "d"
    return "k"


def neck_pixel(x, y):
    """The short collar the fuse comes out of, aligned with NECK_DIR."""
    rx, ry = x - BALL_CX, y - BALL_CY
    along = rx * NECK_DIR[0] + ry * NECK_DIR[1]
    across = rx * NECK_DIR[1] - ry * NECK_DIR[0]
    if BALL_R - 1.2 <= along <= BALL_R + 1.8 and abs(across) <= 2.8:
        # The side facing the light (upper left) is a shade brighter.
        return "m" if across > 0.6 else "n"
    return None


def fuse_points():
    """Points along the cord: out of the neck, bending up to the right."""
    ax, ay = (BALL_CX + NECK_DIR[0] * (BALL_R + 1.8),
              BALL_CY + NECK_DIR[1] * (BALL_R + 1.8))
    bx, by = ax + 1.0, ay - 3.0   # control point
    ex, ey = ax + 4.5, ay - 4.5   # tip
    pts = []
    steps = 64
    for i in range(steps + 1):
        t = i / steps
        px = (1 - t) ** 2 * ax + 2 * (1 - t) * t * bx + t * t * ex
        py = (1 - t) ** 2 * ay + 2 * (1 - t) * t * by + t * t * ey
        p = (int(round(px)), int(round(py)))
        if not pts or pts[-1] != p:
            pts.append(p)
    # Drop corner pixels of the staircase so the cord stays one pixel thin.
    thin = [pts[0]]
    for i in range(1, len(pts) - 1):
        a, b = thin[-1], pts[i + 1]
        if max(abs(a[0] - b[0]), abs(a[1] - b[1])) > 1:
            thin.append(pts[i])
    thin.append(pts[-1])
    return thin, (int(round(ex)), int(round(ey)))


SPARK = [
    "...r...",
    ".r.o.r.",
    "..oyo..",
    "royyyor",
    "..oyo..",
    ".r.o.r.",
    "...r...",
]


def spark(grid, cx, cy):
    # An eight-ray burst: hot yellow core, orange inner rays, red tips.
    for j, row in enumerate(SPARK):
        for i, ch in enumerate(row):
            x, y = cx + i - 3, cy + j - 3
            if ch != "." and 0 <= x < SIZE and 0 <= y < SIZE:
                grid[y][x] = ch


def draw():
    grid = [["c" if (x + y) % 2 == 0 else "w" for x in range(SIZE)]
            for y in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            if in_ball(x, y):
                grid[y][x] = ball_shade(x, y)
    pts, tip = fuse_points()
    for x, y in pts:
        grid[y][x] = "f"
    for y in range(SIZE):
        for x in range(SIZE):
            n = neck_pixel(x, y)
            if n:
                grid[y][x] = n
    spark(grid, tip[0], tip[1])
    return grid


def to_xpm(grid):
    used = {ch for row in grid for ch in row}
    colours = [(ch, rgb) for ch, rgb in PALETTE if ch in used]
    lines = ["/* XPM */", "static const char *const kelvoradx_xpm[] = {",
             f'"{SIZE} {SIZE} {len(colours)} 1",']
    lines += [f'"{ch} c {rgb}",' for ch, rgb in colours]
    rows = ["".join(row) for row in grid]
    lines += [f'"{r}",' for r in rows[:-1]]
    lines.append(f'"{rows[-1]}"')
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    text = to_xpm(draw())
    if len(sys.argv) > 1:
        with open(sys.argv[1], "w", encoding="ascii", newline="\n") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
