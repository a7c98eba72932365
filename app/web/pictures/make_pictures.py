#!/usr/bin/env python3
"""Draws the showcase pictures and the page's jar icons.

Every picture is the same cabinet of eleven faience jars on three shelves, on a transparent
ground so that it sits on whatever the screen puts behind it; a scene picture lights
its own jar (warm spotlight, glow, glazed colours) and leaves the others dim, the whole-room
picture lights them all and the all-off picture leaves the cabinet dark. The jar outlines are
also written into index.html as an inline SVG sprite, so the buttons show the same silhouettes
as the pictures.

The pictures are drawn at twice the size they are laid out at (2048 x 1280 for a 1024 x 640
drawing), so that a retina tablet shows them sharp; a plain screen scales them down.

The same script draws the page's own icons into ../icons/: the home-screen icons of the web-app
manifest (192 and 512 px, and a 512 px one with the jar inside the safe zone that Android's
masks keep), the 180 px apple-touch-icon, and the favicon (favicon.ico with 16 and 32 px
pictures, icon.svg for browsers that take a drawing). Each is the theriac jar of the brand mark,
lit, on the dark of the museum room.

Only the standard library is used to write the SVG sources; `rsvg-convert` (Debian package
librsvg2-bin) turns them into PNGs. The PNGs are committed, so a build never needs this script:
run `python3 app/web/pictures/make_pictures.py` after changing a drawing.
"""

import os
import struct
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
INDEX_HTML = os.path.join(HERE, "..", "index.html")
ICONS = os.path.join(HERE, "..", "icons")
WIDTH, HEIGHT = 1024, 640
SCALE = 2  # pixels per drawing unit in the PNGs

# --- Jar outlines -------------------------------------------------------------------------------
# Each jar stands with the middle of its base at (0, 0), y growing downwards, so it reaches into
# negative y. "body" parts carry the glaze (bands and shading are clipped to them), "trim" parts
# are lids, feet and rims, "wood" is the pestle, "rings" are handles drawn as strokes.


def jar(body, trim=(), wood=(), bands=(), medallion=None, rings=(), knob=None):
    return {
        "body": list(body),
        "trim": list(trim),
        "wood": list(wood),
        "bands": list(bands),  # (y, thickness) pairs, clipped to the body
        "medallion": medallion,  # (cx, cy, rx, ry)
        "rings": list(rings),  # (cx, cy, r)
        "knob": knob,  # (cx, cy, r)
    }


JARS = {
    "mortier": jar(
        body=["M-30,-8 C-48,-20 -56,-50 -56,-62 L56,-62 C56,-50 48,-20 30,-8 Z"],
        trim=["M-34,0 L34,0 L30,-8 L-30,-8 Z", "M-61,-62 L61,-62 L61,-72 L-61,-72 Z"],
        wood=["M6,-70 L40,-128 Q46,-136 52,-131 Q57,-125 51,-118 L20,-66 Z"],
        bands=[(-48, 5), (-26, 3)],
    ),
    "medaillon": jar(
        body=["M-24,-10 C-54,-20 -54,-98 -30,-108 L30,-108 C54,-98 54,-20 24,-10 Z"],
        trim=[
            "M-28,0 L28,0 L24,-10 L-24,-10 Z",
            "M-31,-108 L31,-108 L27,-116 L-27,-116 Z",
            "M-27,-116 Q0,-136 27,-116 Z",
        ],
        bands=[(-22, 4), (-97, 4)],
        medallion=(0, -60, 22, 22),
        knob=(0, -131, 5),
    ),
    "bouteille": jar(
        body=[
            "M-20,0 C-46,0 -50,-20 -48,-46 C-46,-72 -26,-84 -12,-90 L-10,-128 L10,-128 "
            "L12,-90 C26,-84 46,-72 48,-46 C50,-20 46,0 20,0 Z"
        ],
        trim=["M-15,-128 L15,-128 L15,-135 L-15,-135 Z", "M-8,-135 L8,-135 L6,-148 Q0,-155 -6,-148 Z"],
        bands=[(-50, 6), (-18, 3), (-110, 3)],
    ),
    "chevrette": jar(
        body=[
            "M-20,-10 C-52,-24 -52,-86 -22,-100 L-18,-112 L18,-112 L22,-100 "
            "C52,-86 52,-24 20,-10 Z",
            "M36,-64 L62,-94 Q68,-98 71,-91 L48,-50 Z",
        ],
        trim=["M-24,0 L24,0 L20,-10 L-20,-10 Z", "M-23,-112 L23,-112 L23,-121 L-23,-121 Z"],
        rings=[(-44, -62, 17)],
        bands=[(-30, 4), (-88, 4), (-58, 10)],
    ),
    "onguent": jar(
        body=["M-36,0 L36,0 Q30,-26 36,-52 L-36,-52 Q-30,-26 -36,0 Z"],
        trim=["M-40,-52 L40,-52 L40,-61 L-40,-61 Z", "M-15,-61 Q0,-78 15,-61 Z"],
        bands=[(-14, 4), (-40, 4), (-27, 8)],
    ),
    "theriaque1": jar(
        body=["M-10,-22 C-58,-30 -62,-100 -34,-118 L34,-118 C62,-100 58,-30 10,-22 Z"],
        trim=[
            "M-27,0 L27,0 L18,-10 L10,-22 L-10,-22 L-18,-10 Z",
            "M-35,-118 L35,-118 L29,-127 L-29,-127 Z",
            "M-31,-127 Q0,-158 31,-127 Z",
            "M-5,-143 L5,-143 L4,-153 Q0,-163 -4,-153 Z",
        ],
        rings=[(-54, -88, 15), (54, -88, 15)],
        bands=[(-40, 4), (-104, 5)],
        medallion=(0, -72, 21, 17),
    ),
    "theriaque2": jar(
        body=["M-10,-22 C-58,-30 -62,-100 -34,-118 L34,-118 C62,-100 58,-30 10,-22 Z"],
        trim=[
            "M-27,0 L27,0 L18,-10 L10,-22 L-10,-22 L-18,-10 Z",
            "M-35,-118 L35,-118 L29,-127 L-29,-127 Z",
            "M-31,-127 Q0,-158 31,-127 Z",
            "M-5,-143 L5,-143 L4,-153 Q0,-163 -4,-153 Z",
        ],
        rings=[(-54, -88, 15), (54, -88, 15)],
        bands=[(-36, 4), (-58, 3), (-86, 3), (-106, 5)],
    ),
    "potCanon": jar(
        body=["M-29,-8 L29,-8 L29,-112 L-29,-112 Z"],
        trim=[
            "M-33,0 L33,0 L33,-8 L-33,-8 Z",
            "M-33,-112 L33,-112 L33,-122 L-33,-122 Z",
            "M-28,-122 Q0,-140 28,-122 Z",
        ],
        bands=[(-26, 4), (-60, 18), (-94, 4)],
    ),
    "potCylindrique": jar(
        body=["M-38,0 L38,0 L40,-14 Q28,-60 40,-106 L38,-116 L-38,-116 L-40,-106 Q-28,-60 -40,-14 Z"],
        trim=["M-31,-116 L31,-116 L31,-124 L-31,-124 Z", "M-35,-124 Q0,-147 35,-124 Z"],
        bands=[(-18, 5), (-102, 5)],
        medallion=(0, -60, 24, 13),
    ),
    "vaseHaut": jar(
        body=[
            "M-14,-10 C-46,-30 -48,-90 -26,-120 C-18,-132 -20,-140 -22,-146 L22,-146 "
            "C20,-140 18,-132 26,-120 C48,-90 46,-30 14,-10 Z"
        ],
        trim=[
            "M-22,0 L22,0 L16,-10 L-16,-10 Z",
            "M-25,-146 L25,-146 L25,-153 L-25,-153 Z",
            "M-21,-153 Q0,-170 21,-153 Z",
        ],
        bands=[(-34, 4), (-68, 12), (-104, 4), (-136, 3)],
        knob=(0, -168, 4),
    ),
    "raffraichissoire": jar(
        body=["M-40,-8 C-64,-14 -71,-60 -66,-82 L66,-82 C71,-60 64,-14 40,-8 Z"],
        trim=["M-45,0 L45,0 L40,-8 L-40,-8 Z", "M-73,-82 L73,-82 L73,-93 L-73,-93 Z"],
        rings=[(-70, -54, 11), (70, -54, 11)],
        bands=[(-28, 4), (-70, 5), (-49, 10)],
    ),
}

# Where each jar stands: (action, x, shelf). The shelves' top surfaces are at these y values.
SHELVES = [212, 402, 592]
PLACES = [
    ("mortier", 212, 0),
    ("medaillon", 412, 0),
    ("bouteille", 612, 0),
    ("chevrette", 812, 0),
    ("onguent", 212, 1),
    ("theriaque1", 412, 1),
    ("theriaque2", 612, 1),
    ("potCanon", 812, 1),
    ("potCylindrique", 245, 2),
    ("vaseHaut", 512, 2),
    ("raffraichissoire", 779, 2),
]
DIVIDERS = [[312, 512, 712], [312, 512, 712], [378, 645]]  # compartment posts per shelf

PICTURES = [
    ("BGMortier.png", {"mortier"}),
    ("Medaillon.png", {"medaillon"}),
    ("BGBouteille.png", {"bouteille"}),
    ("BGChevrette.png", {"chevrette"}),
    ("BGOnguent.png", {"onguent"}),
    ("Theriaque 1.png", {"theriaque1"}),
    ("Theriaque 2.png", {"theriaque2"}),
    ("BGCanon.png", {"potCanon"}),
    ("BGCylindrique.png", {"potCylindrique"}),
    ("BGVasehaut.png", {"vaseHaut"}),
    ("BGRafraichissoir.png", {"raffraichissoire"}),
    ("BGVitrinerie.png", set(JARS)),
    ("BGAllOff.png", set()),
]

PALETTES = {
    # glaze, trim, bands, accent (medallions), wood, ring strokes
    "lit": ("#f3ead7", "#e6d8bb", "#2e5ea6", "#c7913a", "#8b5a31", "#b88a45"),
    "dim": ("#3d3934", "#34302b", "#283040", "#3b3427", "#2d2118", "#3a3329"),
    "off": ("#1d1b19", "#191715", "#171a20", "#1c1915", "#17110c", "#1c1916"),
}

COORD = re.compile(r"-?\d+(?:\.\d+)?")


def path_bbox(paths):
    xs, ys = [], []
    for d in paths:
        nums = [float(n) for n in COORD.findall(d)]
        xs += nums[0::2]
        ys += nums[1::2]
    return min(xs), min(ys), max(xs), max(ys)


def jar_bbox(j):
    x0, y0, x1, y1 = path_bbox(j["body"] + j["trim"] + j["wood"])
    for cx, cy, r in j["rings"] + ([j["knob"]] if j["knob"] else []):
        x0, y0, x1, y1 = min(x0, cx - r - 3), min(y0, cy - r - 3), max(x1, cx + r + 3), max(y1, cy + r + 3)
    return x0, y0, x1, y1


def draw_jar(out, name, j, x, y, mode, uid):
    glaze, trim, band, accent, wood, ring = PALETTES[mode]
    clip = f"clip-{uid}"
    out.append(f'<g transform="translate({x},{y})">')
    out.append(f'<clipPath id="{clip}">' + "".join(f'<path d="{d}"/>' for d in j["body"]) + "</clipPath>")
    for cx, cy, r in j["rings"]:
        out.append(f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="none" stroke="{ring}" stroke-width="5"/>')
    for d in j["wood"]:
        out.append(f'<path d="{d}" fill="{wood}"/>')
    for d in j["body"]:
        out.append(f'<path d="{d}" fill="{glaze}"/>')
    out.append(f'<g clip-path="url(#{clip})">')
    for by, thick in j["bands"]:
        out.append(f'<rect x="-90" y="{by - thick / 2}" width="180" height="{thick}" fill="{band}"/>')
    if j["medallion"]:
        cx, cy, rx, ry = j["medallion"]
        out.append(f'<ellipse cx="{cx}" cy="{cy}" rx="{rx}" ry="{ry}" fill="{band}"/>')
        out.append(f'<ellipse cx="{cx}" cy="{cy}" rx="{rx - 5}" ry="{ry - 5}" fill="{accent}"/>')
        out.append(f'<ellipse cx="{cx}" cy="{cy}" rx="{rx - 10}" ry="{max(ry - 10, 2)}" fill="{glaze}"/>')
    # Roundness: dark at both edges, a highlight left of centre where the spotlight catches it.
    out.append(f'<rect x="-90" y="-200" width="180" height="220" fill="url(#shade-{mode})"/>')
    out.append("</g>")
    for d in j["trim"]:
        out.append(f'<path d="{d}" fill="{trim}"/>')
        out.append(f'<path d="{d}" fill="url(#shade-{mode})" opacity="0.7"/>')
    if j["knob"]:
        cx, cy, r = j["knob"]
        out.append(f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{accent}"/>')
    out.append("</g>")


def spotlight(out, x, shelf_y, top_y, width):
    """Warm light falling from the compartment's ceiling onto one jar."""
    half_top, half_floor = width * 0.16, width * 0.5
    out.append(
        f'<polygon points="{x - half_top},{top_y} {x + half_top},{top_y} {x + half_floor},{shelf_y} '
        f'{x - half_floor},{shelf_y}" fill="url(#beam)"/>'
    )
    out.append(f'<ellipse cx="{x}" cy="{shelf_y - 70}" rx="{width * 0.55}" ry="95" fill="url(#glow)"/>')
    out.append(f'<rect x="{x - 9}" y="{top_y}" width="18" height="4" rx="2" fill="#ffe2a8"/>')


def picture_svg(lit):
    all_off = not lit
    wall_top, wall_bottom = ("#0f0c0a", "#0a0807") if all_off else ("#1d1611", "#120e0b")
    if len(lit) == len(JARS):
        wall_top, wall_bottom = "#2a1e14", "#1a130e"
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
        f'viewBox="0 0 {WIDTH} {HEIGHT}">',
        "<defs>",
        f'<linearGradient id="wall" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="{wall_top}"/>'
        f'<stop offset="1" stop-color="{wall_bottom}"/></linearGradient>',
        '<linearGradient id="beam" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#ffd590" stop-opacity="0.42"/>'
        '<stop offset="1" stop-color="#ffb85c" stop-opacity="0.06"/></linearGradient>',
        '<radialGradient id="glow"><stop offset="0" stop-color="#ffbe6b" stop-opacity="0.38"/>'
        '<stop offset="0.6" stop-color="#ff9f43" stop-opacity="0.1"/>'
        '<stop offset="1" stop-color="#ff9f43" stop-opacity="0"/></radialGradient>',
        '<radialGradient id="pool"><stop offset="0" stop-color="#ffd9a0" stop-opacity="0.55"/>'
        '<stop offset="1" stop-color="#ffd9a0" stop-opacity="0"/></radialGradient>',
        '<linearGradient id="shelf" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#4a301c"/>'
        '<stop offset="0.3" stop-color="#3a2515"/><stop offset="1" stop-color="#1e130b"/></linearGradient>',
        '<linearGradient id="post" x1="0" y1="0" x2="1" y2="0"><stop offset="0" stop-color="#22160d"/>'
        '<stop offset="0.5" stop-color="#3a2616"/><stop offset="1" stop-color="#1b110a"/></linearGradient>',
        '<linearGradient id="frame" x1="0" y1="0" x2="1" y2="1"><stop offset="0" stop-color="#3c2717"/>'
        '<stop offset="1" stop-color="#1f140c"/></linearGradient>',
    ]
    for mode in PALETTES:
        out.append(shade_gradient(mode))
    out.append("</defs>")
    # The cabinet: frame, back wall, shelves and compartment posts.
    out.append('<rect x="88" y="14" width="848" height="612" rx="6" fill="url(#frame)"/>')
    out.append('<rect x="104" y="30" width="816" height="570" fill="url(#wall)"/>')
    tops = [30, SHELVES[0] + 14, SHELVES[1] + 14]
    for shelf, posts in enumerate(DIVIDERS):
        for px in posts:
            out.append(f'<rect x="{px - 5}" y="{tops[shelf]}" width="10" height="{SHELVES[shelf] - tops[shelf]}" fill="url(#post)"/>')
    for action, x, shelf in PLACES:
        if action in lit:
            width = 200 if shelf < 2 else 267
            spotlight(out, x, SHELVES[shelf], tops[shelf], width)
    uid = 0
    for action, x, shelf in PLACES:
        mode = "lit" if action in lit else ("off" if all_off else "dim")
        if action in lit:
            out.append(f'<ellipse cx="{x}" cy="{SHELVES[shelf] + 2}" rx="70" ry="9" fill="url(#pool)"/>')
        out.append(f'<ellipse cx="{x}" cy="{SHELVES[shelf]}" rx="46" ry="5" fill="#000" opacity="0.45"/>')
        draw_jar(out, action, JARS[action], x, SHELVES[shelf], mode, uid)
        uid += 1
    for y in SHELVES:
        out.append(f'<rect x="104" y="{y}" width="816" height="14" fill="url(#shelf)"/>')
        out.append(f'<rect x="104" y="{y}" width="816" height="1.5" fill="#6a4528" opacity="0.8"/>')
    # Reflections on the glass door, as flat stripes: full-size gradients would triple the PNGs.
    out.append('<polygon points="300,30 390,30 130,600 104,600 104,470" fill="#fff" opacity="0.018"/>')
    out.append('<polygon points="760,30 790,30 560,600 530,600" fill="#fff" opacity="0.014"/>')
    out.append("</svg>")
    return "\n".join(out)


# --- Icons for the page -------------------------------------------------------------------------


def icon_symbol(name, j):
    x0, y0, x1, y1 = jar_bbox(j)
    size = max(x1 - x0, y1 - y0) + 8
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    parts = [f'<symbol id="jar-{name}" viewBox="{cx - size / 2:g} {cy - size / 2:g} {size:g} {size:g}">']
    for cx_, cy_, r in j["rings"]:
        parts.append(f'<circle cx="{cx_}" cy="{cy_}" r="{r}" fill="none" stroke="currentColor" stroke-width="6"/>')
    for d in j["wood"] + j["body"] + j["trim"]:
        parts.append(f'<path d="{d}"/>')
    if j["knob"]:
        kx, ky, r = j["knob"]
        parts.append(f'<circle cx="{kx}" cy="{ky}" r="{r}"/>')
    parts.append(f'<g class="glaze">')
    for by, thick in j["bands"][:2]:
        x0b, _, x1b, _ = path_bbox(j["body"])
        parts.append(f'<rect x="{x0b}" y="{by - thick / 2}" width="{x1b - x0b}" height="{thick}" clip-path="url(#jar-clip-{name})"/>')
    parts.append("</g>")
    parts.append(f'<clipPath id="jar-clip-{name}">' + "".join(f'<path d="{d}"/>' for d in j["body"]) + "</clipPath>")
    parts.append("</symbol>")
    return "".join(parts)


def cabinet_symbol():
    return (
        '<symbol id="jar-vitrinerie" viewBox="0 0 100 100">'
        '<path d="M14,8 H86 V92 H14 Z M22,16 V38 H78 V16 Z M22,46 V68 H78 V46 Z M22,76 V84 H78 V76 Z" '
        'fill-rule="evenodd"/>'
        '<rect x="30" y="24" width="8" height="14" rx="2"/><rect x="46" y="20" width="8" height="18" rx="2"/>'
        '<rect x="62" y="26" width="8" height="12" rx="2"/><rect x="30" y="52" width="10" height="16" rx="2"/>'
        '<rect x="48" y="56" width="6" height="12" rx="2"/><rect x="61" y="50" width="9" height="18" rx="2"/>'
        "</symbol>"
    )


# --- The page's own icons -----------------------------------------------------------------------


def shade_gradient(mode):
    strength = {"lit": 0.45, "dim": 0.55, "off": 0.6}[mode]
    return (
        f'<linearGradient id="shade-{mode}" x1="-90" y1="0" x2="90" y2="0" gradientUnits="userSpaceOnUse">'
        f'<stop offset="0.25" stop-color="#000" stop-opacity="{strength}"/>'
        f'<stop offset="0.42" stop-color="#fff" stop-opacity="{0.22 if mode == "lit" else 0.05}"/>'
        f'<stop offset="0.58" stop-color="#000" stop-opacity="0"/>'
        f'<stop offset="0.75" stop-color="#000" stop-opacity="{strength}"/></linearGradient>'
    )


def app_icon_svg(jar_height, rounded):
    """The lit theriac jar on a 512-unit square; `jar_height` is the jar's share of the side.

    `rounded` gives the square its own rounded corners (favicon, manifest "any"); without it the
    square is full-bleed, for the platforms that cut their own shape (iOS, maskable icons)."""
    j = JARS["theriaque1"]
    x0, y0, x1, y1 = jar_bbox(j)
    scale = jar_height * 512 / (y1 - y0)
    # The jar's base sits so that its box is centred, a little low like an object on a shelf.
    tx = 256 - scale * (x0 + x1) / 2
    ty = 256 - scale * (y0 + y1) / 2 + 512 * jar_height * 0.04
    radius = 112 if rounded else 0
    out = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" viewBox="0 0 512 512">',
        "<defs>",
        '<radialGradient id="room" cx="0.5" cy="0.42" r="0.7"><stop offset="0" stop-color="#3a2a1b"/>'
        '<stop offset="0.55" stop-color="#1a130e"/><stop offset="1" stop-color="#0b0908"/></radialGradient>',
        '<radialGradient id="glow"><stop offset="0" stop-color="#ffbe6b" stop-opacity="0.5"/>'
        '<stop offset="0.6" stop-color="#ff9f43" stop-opacity="0.14"/>'
        '<stop offset="1" stop-color="#ff9f43" stop-opacity="0"/></radialGradient>',
        shade_gradient("lit"),
        "</defs>",
        f'<rect width="512" height="512" rx="{radius}" fill="url(#room)"/>',
        f'<ellipse cx="256" cy="{ty + scale * (y0 + y1) / 2:.1f}" rx="{scale * 110:.1f}" ry="{scale * 105:.1f}" '
        'fill="url(#glow)"/>',
        f'<ellipse cx="256" cy="{ty:.1f}" rx="{scale * 50:.1f}" ry="{scale * 6:.1f}" fill="#000" opacity="0.5"/>',
        f'<g transform="translate({tx:.2f},{ty:.2f}) scale({scale:.4f})">',
    ]
    draw_jar(out, "theriaque1", j, 0, 0, "lit", "icon")
    out += ["</g>", "</svg>"]
    return "\n".join(out)


def ico(pngs):
    """A .ico holding PNG pictures, as every browser reads them: (size, bytes) pairs."""
    header = struct.pack("<HHH", 0, 1, len(pngs))
    offset = len(header) + 16 * len(pngs)
    entries, data = b"", b""
    for size, png in pngs:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(png), offset + len(data))
        data += png
    return header + entries + data


def write_app_icons(converter, tmp):
    os.makedirs(ICONS, exist_ok=True)
    drawings = {"any": app_icon_svg(0.66, True), "full": app_icon_svg(0.6, False),
                "maskable": app_icon_svg(0.5, False)}
    sources = {}
    for name, svg in drawings.items():
        sources[name] = os.path.join(tmp, f"icon-{name}.svg")
        with open(sources[name], "w", encoding="utf-8") as f:
            f.write(svg)
    with open(os.path.join(ICONS, "icon.svg"), "w", encoding="utf-8") as f:
        f.write(drawings["any"] + "\n")

    def render(drawing, size, out):
        subprocess.run([converter, "-w", str(size), "-h", str(size), "-o", out, sources[drawing]], check=True)

    for drawing, size, name in [("any", 192, "icon-192.png"), ("any", 512, "icon-512.png"),
                                ("maskable", 512, "icon-maskable-512.png"),
                                ("full", 180, "apple-touch-icon.png")]:
        render(drawing, size, os.path.join(ICONS, name))
        print(f"icons/{name}: {os.path.getsize(os.path.join(ICONS, name)) // 1024} KB")
    small = []
    for size in (16, 32):
        png = os.path.join(tmp, f"favicon-{size}.png")
        render("any", size, png)
        with open(png, "rb") as f:
            small.append((size, f.read()))
    with open(os.path.join(ICONS, "favicon.ico"), "wb") as f:
        f.write(ico(small))


def write_icons():
    sprite = (
        '<svg class="sprite" aria-hidden="true" focusable="false">'
        + "".join(icon_symbol(n, j) for n, j in JARS.items())
        + cabinet_symbol()
        + "</svg>"
    )
    html = open(INDEX_HTML, encoding="utf-8").read()
    begin, end = "<!-- jar-icons:begin (written by pictures/make_pictures.py) -->", "<!-- jar-icons:end -->"
    start, stop = html.index(begin) + len(begin), html.index(end)
    html = html[:start] + "\n" + sprite + "\n" + html[stop:]
    with open(INDEX_HTML, "w", encoding="utf-8") as f:
        f.write(html)


def main():
    converter = shutil.which("rsvg-convert")
    if not converter:
        sys.exit("rsvg-convert not found: apt-get install librsvg2-bin")
    keep_svg = "--keep-svg" in sys.argv
    with tempfile.TemporaryDirectory() as tmp:
        for name, lit in PICTURES:
            svg = os.path.join(HERE if keep_svg else tmp, name.replace(".png", ".svg"))
            with open(svg, "w", encoding="utf-8") as f:
                f.write(picture_svg(lit))
            png = os.path.join(HERE, name)
            subprocess.run([converter, "-w", str(SCALE * WIDTH), "-h", str(SCALE * HEIGHT), "-o", png, svg], check=True)
            print(f"{name}: {os.path.getsize(png) // 1024} KB")
        write_app_icons(converter, tmp)
    if os.path.exists(INDEX_HTML):
        write_icons()


if __name__ == "__main__":
    main()
