#!/usr/bin/env python3
"""Draws the program's pictures and writes them as XPM text into picture_data.cpp.

The state icons, the application icon and the wizard's side picture are drawn here from simple
shapes, with small palettes (the icons stay within 16 colours), so the C++ side carries plain
text that any window backend can decode. Run it from this folder after changing a drawing:
    python3 draw_pictures.py > picture_data.cpp
"""
import math

XPM_CHARS = ".#abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789@$%&*=-;:>,<1/()[]{}!~^|"
TRANSPARENT = None


def blank(w, h, fill=TRANSPARENT):
    return [[fill] * w for _ in range(h)]


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def lamp(light, base, dark, rim):
    """A round lamp lit from the upper left, with a rim and a small glint."""
    img = blank(32, 32)
    cx = cy = 15.5
    hx, hy = 11.0, 10.0
    for y in range(32):
        for x in range(32):
            d = math.hypot(x - cx, y - cy)
            if d > 13.6:
                continue
            if d > 12.2:
                img[y][x] = rim
                continue
            # Five shades from the lit spot outwards keep the palette small and the look bold.
            t = math.hypot(x - hx, y - hy) / 19.0
            level = min(4, int(t * 5))
            shades = [light, mix(light, base, 0.5), base, mix(base, dark, 0.5), dark]
            img[y][x] = shades[level]
    for y in range(32):
        for x in range(32):
            if math.hypot(x - 10.5, y - 9.5) <= 2.2:
                img[y][x] = (255, 255, 255)
    return img


def square(light, base, dark):
    """A raised square, 22 px wide, in the middle of a 32 x 32 icon."""
    img = blank(32, 32)
    lo, hi = 5, 26
    for y in range(lo, hi + 1):
        for x in range(lo, hi + 1):
            if x in (lo, hi) or y in (lo, hi):
                img[y][x] = (0, 0, 0)
            elif x <= lo + 2 or y <= lo + 2:
                img[y][x] = light
            elif x >= hi - 2 or y >= hi - 2:
                img[y][x] = dark
            else:
                img[y][x] = base
    return img


def fill_rect(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(len(img), y1 + 1)):
        for x in range(max(0, x0), min(len(img[0]), x1 + 1)):
            img[y][x] = colour


def chip(img, left, top, width, height, pins, pin_len, body, edge, pin, pin_shade, trace):
    """A chip seen from above: dark body, pins on both long sides, a notch and a wave on it."""
    right, bottom = left + width - 1, top + height - 1
    fill_rect(img, left, top, right, bottom, body)
    fill_rect(img, left, top, right, top, edge)
    fill_rect(img, left, top, left, bottom, edge)
    step = height / pins
    for i in range(pins):
        y = top + round(step * i + step / 2) - 1
        fill_rect(img, left - pin_len, y, left - 1, y + 1, pin)
        fill_rect(img, right + 1, y, right + pin_len, y + 1, pin)
        fill_rect(img, left - pin_len, y + 1, left - 1, y + 1, pin_shade)
        fill_rect(img, right + 1, y + 1, right + pin_len, y + 1, pin_shade)
    ncx = left + width / 2 - 0.5
    for y in range(top, top + 3):
        for x in range(left, right + 1):
            if math.hypot(x - ncx, y - top) <= 2.3:
                img[y][x] = (10, 12, 14)
    # The carrier wave across the body: the modem's side of the motif.
    amp = height / 6.0
    mid = top + height / 2.0
    previous = None
    for x in range(left + 2, right - 1):
        phase = (x - left - 2) / max(1, (width - 4)) * 2 * math.pi * 1.5
        y = round(mid + amp * math.sin(phase))
        # Join each column to the last one so the wave stays unbroken on its steep parts.
        y0, y1 = (y, y) if previous is None else (min(previous, y), max(previous, y))
        fill_rect(img, x, y0, x, y1 + 1, trace)
        previous = y


def application_icon():
    img = blank(32, 32)
    chip(img, 8, 5, 16, 22, 5, 4, (32, 36, 40), (72, 78, 86), (200, 200, 208), (120, 120, 128),
         (48, 208, 96))
    img[8][10] = (230, 230, 230)
    return img


def wizard_picture():
    w, h = 69, 150
    img = blank(w, h)
    top, bottom = (11, 42, 90), (31, 111, 176)
    for y in range(h):
        level = round(y / (h - 1) * 11) / 11.0
        for x in range(w):
            img[y][x] = mix(top, bottom, level)
    # Faint horizontal lines: the serial line behind the picture.
    line = (52, 128, 190)
    for y in range(6, h, 12):
        for x in range(0, w, 3):
            img[y][x] = line
    # The chip that receives the new firmware.
    chip(img, 20, 16, 29, 36, 6, 5, (28, 30, 34), (80, 86, 96), (208, 208, 216), (128, 128, 136),
         (64, 224, 112))
    # The upload: bits climbing from the modem to the chip, then an arrow head.
    bit = (255, 214, 64)
    for i, y in enumerate(range(106, 70, -6)):
        fill_rect(img, 32, y, 36, y + 2, bit if i % 2 == 0 else (255, 255, 255))
    for r in range(7):
        fill_rect(img, 34 - r, 58 + r, 34 + r, 58 + r, bit)
    fill_rect(img, 32, 65, 36, 68, bit)
    # The modem: a flat case with its front lamps and a cable.
    fill_rect(img, 7, 114, 61, 129, (214, 214, 206))
    fill_rect(img, 7, 114, 61, 115, (240, 240, 234))
    fill_rect(img, 7, 126, 61, 129, (160, 160, 152))
    fill_rect(img, 6, 114, 6, 129, (90, 90, 84))
    fill_rect(img, 62, 114, 62, 129, (90, 90, 84))
    fill_rect(img, 6, 130, 62, 130, (60, 60, 56))
    for i, colour in enumerate([(40, 220, 60), (40, 220, 60), (240, 200, 40), (230, 40, 40),
                                (40, 220, 60)]):
        fill_rect(img, 12 + i * 6, 120, 14 + i * 6, 122, colour)
    fill_rect(img, 46, 119, 57, 123, (150, 150, 144))
    fill_rect(img, 47, 120, 56, 122, (60, 60, 56))
    for y in range(131, h):
        x = 52 + round(3 * math.sin((y - 131) / 5.0))
        fill_rect(img, x, y, x + 1, y, (30, 30, 30))
    return img


def to_xpm(name, img):
    colours = []
    for row in img:
        for c in row:
            if c not in colours:
                colours.append(c)
    assert len(colours) <= len(XPM_CHARS), name
    # Transparent first, so it is always the '.' of the text.
    colours.sort(key=lambda c: (c is not None,))
    keys = {c: XPM_CHARS[i] for i, c in enumerate(colours)}
    h, w = len(img), len(img[0])
    lines = [f'"{w} {h} {len(colours)} 1"']
    for c in colours:
        colourSpec = "None" if c is None else "#%02X%02X%02X" % c
        lines.append(f'"{keys[c]} c {colourSpec}"')
    for row in img:
        lines.append('"' + "".join(keys[c] for c in row) + '"')
    body = ",\n    ".join(lines)
    return f"const char* const {name}[] = {{\n    {body},\n}};\n", len(colours)


PICTURES = [
    ("LampIdleXpm", lamp((96, 112, 224), (16, 32, 160), (0, 0, 96), (0, 0, 48))),
    ("LampDoneXpm", lamp((144, 255, 144), (0, 192, 0), (0, 96, 0), (0, 48, 0))),
    ("LampBusyAXpm", lamp((255, 160, 160), (224, 0, 0), (128, 0, 0), (64, 0, 0))),
    ("LampBusyBXpm", lamp((208, 255, 255), (0, 208, 208), (0, 112, 128), (0, 56, 64))),
    ("StepDoneXpm", square((255, 255, 192), (255, 232, 0), (192, 160, 0))),
    ("StepPendingXpm", square((224, 224, 224), (160, 160, 160), (96, 96, 96))),
    ("ApplicationXpm", application_icon()),
    ("WizardPictureXpm", wizard_picture()),
]


def main():
    print("// Generated by draw_pictures.py in this folder; edit the drawing there, not this text.")
    print('#include "resources/icons/picture_data.h"')
    print()
    print("namespace resources {")
    print()
    for name, img in PICTURES:
        text, _ = to_xpm(name, img)
        print(text)
    print("}  // namespace resources")


if __name__ == "__main__":
    main()
