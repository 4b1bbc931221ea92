#!/usr/bin/env python3
"""Writes the task pane's pictures (SVG) into this folder.

Each button picture is 384 by 15: three frames of 128 by 15 side by side, normal on the left,
pressed in the middle, pointer over it on the right. Run again after changing a text or icon.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
INK = "#123f52"
TEAL = "#2f8fb0"
ORANGE = "#f6b23c"
# At 9.5 px the longest text, "Synchronize Channels", ends a few pixels inside the 128-pixel
# frame, also in the pressed frame that is drawn one pixel to the right; at 10 px its frame's edge
# cut the last letter.
FONT = "font-family=\"DejaVu Sans, sans-serif\" font-size=\"9.5\""

ICONS = {
    # Two arrows chasing each other: refresh everything.
    "update-all": (
        '<path d="M10.5 4.2 A4.6 4.6 0 0 0 2.4 6" fill="none" stroke="{c}" stroke-width="1.6"/>'
        '<path d="M11.6 1.8 L11.3 5.6 L7.6 4.9 Z" fill="{c}"/>'
        '<path d="M2.5 8.8 A4.6 4.6 0 0 0 10.6 7" fill="none" stroke="{c}" stroke-width="1.6"/>'
        '<path d="M1.4 11.2 L1.7 7.4 L5.4 8.1 Z" fill="{c}"/>'),
    # A ticked box: the marked feeds.
    "update-marked": (
        '<rect x="1.5" y="1.5" width="10" height="10" rx="1.5" fill="#ffffff" stroke="{c}"/>'
        '<path d="M3.6 6.6 L5.8 8.8 L9.6 3.8" fill="none" stroke="{c}" stroke-width="1.6"/>'),
    # One feed page with the feed arcs.
    "update-current": (
        '<path d="M2.5 0.8 H8.2 L10.8 3.4 V12.2 H2.5 Z" fill="#ffffff" stroke="{c}"/>'
        '<circle cx="4.6" cy="10" r="1" fill="' + ORANGE + '"/>'
        '<path d="M4 7 A3 3 0 0 1 7.4 10.2" fill="none" stroke="' + ORANGE + '" stroke-width="1.1"/>'
        '<path d="M4 4.6 A5.4 5.4 0 0 1 9.6 10.2" fill="none" stroke="' + ORANGE + '" stroke-width="1.1"/>'),
    # An arrow going down into a tray.
    "import-opml": (
        '<path d="M1.5 8 V11.5 H11.5 V8" fill="none" stroke="{c}" stroke-width="1.4"/>'
        '<path d="M6.5 1 V7.5" stroke="{c}" stroke-width="1.6"/>'
        '<path d="M3.6 5.4 L6.5 8.6 L9.4 5.4 Z" fill="{c}"/>'),
    # An arrow leaving a tray.
    "export-opml": (
        '<path d="M1.5 8 V11.5 H11.5 V8" fill="none" stroke="{c}" stroke-width="1.4"/>'
        '<path d="M6.5 9 V3" stroke="{c}" stroke-width="1.6"/>'
        '<path d="M3.6 4.2 L6.5 1 L9.4 4.2 Z" fill="{c}"/>'),
    # A phone with an arrow towards it.
    "send-to": (
        '<rect x="6.5" y="0.8" width="6" height="11.6" rx="1.2" fill="' + ORANGE + '" stroke="{c}" stroke-width="0.8"/>'
        '<rect x="7.6" y="2.2" width="3.8" height="6.6" fill="#fff4dc"/>'
        '<path d="M0.6 6.5 H4.2" stroke="{c}" stroke-width="1.6"/>'
        '<path d="M3.4 4 L6.2 6.5 L3.4 9 Z" fill="{c}"/>'),
    # The switch off: an empty box.
    "sync-off": (
        '<rect x="1.5" y="1.5" width="10" height="10" rx="1.5" fill="#ffffff" stroke="{c}"/>'),
    # The switch on: a ticked box with a green tick.
    "sync-on": (
        '<rect x="1.5" y="1.5" width="10" height="10" rx="1.5" fill="#ffffff" stroke="{c}"/>'
        '<path d="M3.4 6.4 L5.8 9 L10.2 3.2" fill="none" stroke="#1f9d46" stroke-width="1.9"/>'),
}

TEXTS = {
    "update-all": "Update All Feeds",
    "update-marked": "Update Marked Feeds",
    "update-current": "Update Current Feed",
    "import-opml": "Import OPML",
    "export-opml": "Export OPML",
    "send-to": "Send To",
    "sync-off": "Synchronize Channels",
    "sync-on": "Synchronize Channels",
}


def frame(name, x, style):
    if style == "normal":
        back, colour, shift = "", INK, 0
    elif style == "pressed":
        back = ('<rect x="0.5" y="0.5" width="127" height="14" rx="3" fill="%s" '
                'stroke="#17566e"/>' % TEAL)
        colour, shift = "#ffffff", 1
    else:  # pointer over it
        back = ('<rect x="0.5" y="0.5" width="127" height="14" rx="3" fill="#ffffff" '
                'fill-opacity="0.8" stroke="%s"/>' % TEAL)
        colour, shift = "#0b5f80", 0
    icon = ICONS[name].replace("{c}", colour)
    text = ('<text x="18" y="11" %s fill="%s"%s>%s</text>'
            % (FONT, colour, ' text-decoration="underline"' if style == "hover" else "",
               TEXTS[name]))
    return ('<g transform="translate(%d 0)">%s<g transform="translate(%d %d)">'
            '<g transform="translate(2 1)">%s</g>%s</g></g>'
            % (x, back, shift, shift, icon, text))


def button(name):
    body = "".join(frame(name, x, style)
                   for x, style in ((0, "normal"), (128, "pressed"), (256, "hover")))
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="384" height="15" '
            'viewBox="0 0 384 15">%s</svg>\n' % body)


# The pane's background, drawn at (6, 15) of the pane: a card with a title band; the buttons
# sit on it at pane x 26 (card x 20), in three groups.
BACKGROUND = """<svg xmlns="http://www.w3.org/2000/svg" width="153" height="199" viewBox="0 0 153 199">
  <defs>
    <linearGradient id="band" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#2f8fb0"/>
      <stop offset="1" stop-color="#17566e"/>
    </linearGradient>
  </defs>
  <rect x="0.5" y="0.5" width="152" height="198" rx="7" fill="#ffffff" fill-opacity="0.55" stroke="#ffffff" stroke-opacity="0.9"/>
  <path d="M0.5 7.5 A7 7 0 0 1 7.5 0.5 H145.5 A7 7 0 0 1 152.5 7.5 V40 H0.5 Z" fill="url(#band)"/>
  <g transform="translate(9 9)">
    <circle cx="4" cy="19" r="3" fill="#ffffff"/>
    <path d="M1 10 A12 12 0 0 1 13 22" fill="none" stroke="#ffffff" stroke-width="3" stroke-linecap="round"/>
    <path d="M1 2 A20 20 0 0 1 21 22" fill="none" stroke="#ffffff" stroke-width="3" stroke-linecap="round" opacity="0.85"/>
  </g>
  <text x="38" y="19" font-family="DejaVu Sans, sans-serif" font-size="12" font-weight="bold" fill="#ffffff">Feed Tasks</text>
  <text x="38" y="32" font-family="DejaVu Sans, sans-serif" font-size="8.5" fill="#dff1f7">news and podcasts to go</text>
  <rect x="140" y="9" width="8" height="14" rx="1.5" fill="#f6b23c" stroke="#ffffff" stroke-width="1"/>
  <path d="M9 134.5 H144" stroke="#2f8fb0" stroke-opacity="0.55"/>
  <path d="M9 164.5 H144" stroke="#2f8fb0" stroke-opacity="0.55"/>
  <circle cx="12" cy="59.5" r="2.2" fill="#2f8fb0"/>
  <circle cx="12" cy="149.5" r="2.2" fill="#f6b23c"/>
  <circle cx="12" cy="179.5" r="2.2" fill="#1f9d46"/>
</svg>
"""

# The progress dialog's picture (53 by 57 dialog units): feeds flowing into a phone.
PROGRESS = """<svg xmlns="http://www.w3.org/2000/svg" width="80" height="91" viewBox="0 0 80 91">
  <defs>
    <linearGradient id="bg" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#2f8fb0"/>
      <stop offset="1" stop-color="#123f52"/>
    </linearGradient>
  </defs>
  <rect width="80" height="91" rx="6" fill="url(#bg)"/>
  <g transform="translate(8 8)">
    <circle cx="5" cy="27" r="4" fill="#ffffff"/>
    <path d="M1 14 A16 16 0 0 1 17 30" fill="none" stroke="#ffffff" stroke-width="4.5" stroke-linecap="round"/>
    <path d="M1 3 A27 27 0 0 1 28 30" fill="none" stroke="#ffffff" stroke-width="4.5" stroke-linecap="round" opacity="0.85"/>
  </g>
  <path d="M40 30 V52" stroke="#ffffff" stroke-width="4" stroke-linecap="round"/>
  <path d="M32 47 L40 57 L48 47 Z" fill="#ffffff"/>
  <rect x="48" y="40" width="24" height="44" rx="4" fill="#f6b23c" stroke="#ffffff" stroke-width="2"/>
  <rect x="52" y="46" width="16" height="26" fill="#fff4dc"/>
  <path d="M55 52 H65 M55 57 H65 M55 62 H62" stroke="#2f8fb0" stroke-width="2"/>
  <circle cx="60" cy="78" r="2" fill="#ffffff"/>
</svg>
"""

# The Options dialog's picture (61 by 135 dialog units).
OPTIONS = """<svg xmlns="http://www.w3.org/2000/svg" width="92" height="216" viewBox="0 0 92 216">
  <defs>
    <linearGradient id="bg" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#2f8fb0"/>
      <stop offset="1" stop-color="#123f52"/>
    </linearGradient>
  </defs>
  <rect width="92" height="216" fill="url(#bg)"/>
  <g transform="translate(46 58)" fill="#ffffff">
    <path d="M-4 -26 H4 L5.5 -18.5 A19 19 0 0 1 12 -15 L19.2 -17.8 L24.8 -12.2 L22 -5 A19 19 0 0 1 25.5 1.5 L33 3 V11 L25.5 12.5 A19 19 0 0 1 22 19 L24.8 26.2 L19.2 31.8 L12 29 A19 19 0 0 1 5.5 32.5 L4 40 H-4 L-5.5 32.5 A19 19 0 0 1 -12 29 L-19.2 31.8 L-24.8 26.2 L-22 19 A19 19 0 0 1 -25.5 12.5 L-33 11 V3 L-25.5 1.5 A19 19 0 0 1 -22 -5 L-24.8 -12.2 L-19.2 -17.8 L-12 -15 A19 19 0 0 1 -5.5 -18.5 Z" opacity="0.9"/>
    <circle cx="0" cy="7" r="9" fill="#2f8fb0"/>
  </g>
  <g transform="translate(14 118)">
    <path d="M0 4 H34 M0 16 H34 M0 28 H34" stroke="#dff1f7" stroke-width="3" stroke-linecap="round"/>
    <circle cx="10" cy="4" r="4.5" fill="#f6b23c"/>
    <circle cx="26" cy="16" r="4.5" fill="#f6b23c"/>
    <circle cx="16" cy="28" r="4.5" fill="#f6b23c"/>
  </g>
  <rect x="56" y="112" width="22" height="40" rx="4" fill="#f6b23c" stroke="#ffffff" stroke-width="2"/>
  <rect x="60" y="118" width="14" height="24" fill="#fff4dc"/>
  <circle cx="67" cy="147" r="1.8" fill="#ffffff"/>
  <path d="M0 170 Q46 150 92 170 V216 H0 Z" fill="#f6b23c" opacity="0.9"/>
  <text x="46" y="197" font-family="DejaVu Sans, sans-serif" font-size="13" font-weight="bold" fill="#123f52" text-anchor="middle">Options</text>
</svg>
"""


def write(name, text):
    with open(os.path.join(HERE, name), "w", encoding="utf-8") as out:
        out.write(text)


for button_name in ICONS:
    write(button_name + ".svg", button(button_name))
write("background.svg", BACKGROUND)
write("progress.svg", PROGRESS)
write("options.svg", OPTIONS)
