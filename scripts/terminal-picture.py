#!/usr/bin/env python3
"""A terminal screen kept with its colours (tmux capture-pane -e) drawn as a PNG picture,
cell by cell in a monospaced font, through ImageMagick.

Usage: python3 scripts/terminal-picture.py SCREEN.ans PICTURE.png
"""
import re
import subprocess
import sys

FONT = "DejaVu-Sans-Mono"
POINTS = 14
CELL_WIDTH = POINTS * 1233 / 2048  # the font's advance, in pixels at 72 dpi
CELL_HEIGHT = 18
MARGIN = 10
BACKGROUND = "#1d1f21"
FOREGROUND = "#c5c8c6"
# The eight colours of SGR 30-37 (and 90-97 drawn the same).
COLOURS = ["#1d1f21", "#cc6666", "#b5bd68", "#f0c674", "#81a2be", "#b294bb", "#8abeb7", "#c5c8c6"]
SGR = re.compile(r"\x1b\[([0-9;]*)m")


def cells(line):
    """Each character of a line with its style: (character, foreground, background, bold)."""
    fg, bg, bold, reverse = None, None, False, False
    out = []
    position = 0
    for match in list(SGR.finditer(line)) + [None]:
        end = match.start() if match else len(line)
        for ch in line[position:end]:
            front, back = fg or FOREGROUND, bg or BACKGROUND
            out.append((ch, back if reverse else front, front if reverse else back, bold))
        if not match:
            break
        position = match.end()
        codes = [int(c) if c else 0 for c in match.group(1).split(";")]
        i = 0
        while i < len(codes):
            code = codes[i]
            if code == 0:
                fg, bg, bold, reverse = None, None, False, False
            elif code == 1:
                bold = True
            elif code in (2, 22):
                bold = False
            elif code == 7:
                reverse = True
            elif code == 27:
                reverse = False
            elif 30 <= code <= 37 or 90 <= code <= 97:
                fg = COLOURS[code % 10]
            elif code == 39:
                fg = None
            elif 40 <= code <= 47:
                bg = COLOURS[code % 10]
            elif code == 49:
                bg = None
            elif code in (38, 48):  # 256 colours or RGB: drawn as the default
                i += 2 if codes[i + 1:i + 2] == [5] else 4
            i += 1
    return out


def quoted(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'").replace("%", "%%") + "'"


def main(screen_path, picture_path):
    with open(screen_path, encoding="utf-8") as screen:
        lines = screen.read().rstrip("\n").split("\n")
    rows = [cells(line) for line in lines]
    columns = max((len(row) for row in rows), default=0)
    width = int(columns * CELL_WIDTH) + 2 * MARGIN
    height = len(rows) * CELL_HEIGHT + 2 * MARGIN
    draw = [f"font-size {POINTS}", "text-antialias 1"]
    for y, row in enumerate(rows):
        top = MARGIN + y * CELL_HEIGHT
        start = 0
        while start < len(row):  # one span per run of equal style
            end = start
            while end < len(row) and row[end][1:] == row[start][1:]:
                end += 1
            _, fg, bg, bold = row[start]
            left = MARGIN + start * CELL_WIDTH
            if bg != BACKGROUND:
                right = MARGIN + end * CELL_WIDTH
                draw.append(f"fill '{bg}' rectangle {left:.1f},{top} {right:.1f},{top + CELL_HEIGHT - 1}")
            text = "".join(cell[0] for cell in row[start:end]).rstrip() if bg == BACKGROUND else \
                "".join(cell[0] for cell in row[start:end])
            if text.strip():
                font = FONT + "-Bold" if bold else FONT
                draw.append(f"font {font} fill '{fg}' text {left:.1f},{top + POINTS} {quoted(text)}")
            start = end
    # The drawing goes as an argument: ImageMagick's usual policy refuses to read it from a file.
    subprocess.run(["convert", "-size", f"{width}x{height}", f"xc:{BACKGROUND}",
                    "-draw", "\n".join(draw), "-colors", "32", "PNG8:" + picture_path], check=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
