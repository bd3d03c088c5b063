#!/usr/bin/python3
"""Writes the evaluation set: screen-like images with known text.

Each image NN-kind.png comes with NN-kind.txt, the text a reader would type
out: one line per visual line, in reading order (left column before right,
one card after another, table rows whole), without bullets, checkboxes or
icons. Needs Pillow and the DejaVu fonts (Debian: python3-pil,
fonts-dejavu-core). Deterministic: the same files on every run.

usage: generate_eval_set.py [output-dir [seed]]
    output-dir defaults to eval/ next to this file; another seed gives a
    fresh set of the same kinds, for checking against held-out images.
"""
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu"

WORDS = """the of and to in is for on that with as was at by from this be are it an have
not or which but all were we when there can more one also about if out up into only new
time some could two other these than then first any like would very what over after our
most where your just well back use way even because good each those people through year
meeting agenda budget review release notes project update quarter revenue customer team
design report schedule feature support service account payment invoice order shipping
product launch planning status summary request access storage network server database
deploy build test error warning message settings profile security password change share
screen window document folder upload download export import search filter dashboard
analytics marketing sales finance engineering research hiring onboarding training policy
contract partner vendor pricing discount subscription renewal forecast target growth
weekly monthly daily morning afternoon tomorrow yesterday today deadline priority owner
draft final approved pending blocked done open closed active archived version history
""".split()

NAMES = ["Alice Chen", "Bruno Diaz", "Carla Novak", "David Okafor", "Elena Petrova",
         "Farid Haddad", "Grace Kim", "Hugo Martin", "Ines Costa", "Jonas Berg"]

LIGHT = {"bg": (255, 255, 255), "panel": (243, 244, 246), "text": (17, 24, 39),
         "muted": (100, 110, 125), "line": (209, 213, 219), "accent": (37, 99, 235)}
DARK = {"bg": (30, 31, 34), "panel": (43, 45, 49), "text": (229, 231, 235),
        "muted": (150, 155, 165), "line": (70, 72, 78), "accent": (96, 165, 250)}


def font(name, size):
    return ImageFont.truetype(os.path.join(FONT_DIR, name), size)


def sentence(rng, low, high):
    words = [rng.choice(WORDS) for _ in range(rng.randint(low, high))]
    words[0] = words[0].capitalize()
    return " ".join(words)


def wrap(rng, draw, face, width, word_count):
    """Random words wrapped to `width` pixels; returns the lines."""
    lines, current = [], []
    for index in range(word_count):
        word = rng.choice(WORDS)
        if index == 0:
            word = word.capitalize()
        trial = " ".join(current + [word])
        if current and draw.textlength(trial, font=face) > width:
            lines.append(" ".join(current))
            current = [word]
        else:
            current.append(word)
    if current:
        lines.append(" ".join(current) + ".")
    return lines


def canvas(size, theme):
    image = Image.new("RGB", size, theme["bg"])
    return image, ImageDraw.Draw(image)


def document(rng, theme, size_px):
    image, draw = canvas((900, 520), theme)
    title = font("DejaVuSans-Bold.ttf", size_px + 6)
    body = font(rng.choice(["DejaVuSans.ttf", "DejaVuSerif.ttf"]), size_px)
    truth = [sentence(rng, 3, 5)]
    draw.text((30, 24), truth[0], font=title, fill=theme["text"])
    y = 24 + size_px * 3
    for _ in range(3):
        for line in wrap(rng, draw, body, 820, rng.randint(25, 45)):
            draw.text((30, y), line, font=body, fill=theme["text"])
            truth.append(line)
            y += int(size_px * 1.6)
        y += size_px
    return image, truth


def code_editor(rng, theme, size_px):
    image, draw = canvas((820, 480), theme)
    mono = font("DejaVuSansMono.ttf", size_px)
    truth = []
    indent = 0
    y = 16
    for number in range(1, 19):
        if indent and rng.random() < 0.3:
            indent -= 1
        name = rng.choice(WORDS) + "_" + rng.choice(WORDS)
        kind = rng.random()
        if kind < 0.3:
            code = f"def {name}(value, count):"
        elif kind < 0.6:
            code = f"{name} = compute({rng.choice(WORDS)}, {rng.randint(2, 90)})"
        elif kind < 0.8:
            code = f"if {name} > {rng.randint(1, 9)}:"
        else:
            code = f'return "{sentence(rng, 2, 4)}"'
        text = "    " * indent + code
        draw.text((12, y), f"{number:>3}", font=mono, fill=theme["muted"])
        draw.text((60, y), text, font=mono, fill=theme["text"])
        truth.append(f"{number} {code}")
        if code.endswith(":"):
            indent = min(indent + 1, 3)
        y += int(size_px * 1.55)
    return image, truth


def slide(rng, theme, size_px):
    image, draw = canvas((960, 540), theme)
    title = font("DejaVuSans-Bold.ttf", size_px * 2 + 6)
    body = font("DejaVuSans.ttf", size_px + 6)
    truth = [sentence(rng, 2, 4)]
    draw.text((60, 50), truth[0], font=title, fill=theme["text"])
    y = 150
    for _ in range(rng.randint(4, 5)):
        line = sentence(rng, 4, 8)
        radius = (size_px + 6) // 5
        centre_y = y + (size_px + 6) * 0.6
        draw.ellipse((70 - radius, centre_y - radius, 70 + radius, centre_y + radius),
                     fill=theme["accent"])
        draw.text((95, y), line, font=body, fill=theme["text"])
        truth.append(line)
        y += int((size_px + 6) * 2.2)
    return image, truth


def icon(draw, rng, x, y, size, theme):
    """A small glyph-like shape: what a nav icon looks like to a recogniser."""
    shape = rng.choice(["circle", "square", "ring", "gear"])
    box = (x, y, x + size, y + size)
    if shape == "circle":
        draw.ellipse(box, fill=theme["muted"])
    elif shape == "square":
        draw.rounded_rectangle(box, radius=2, outline=theme["muted"], width=2)
    elif shape == "ring":
        draw.ellipse(box, outline=theme["muted"], width=2)
    else:
        draw.ellipse(box, outline=theme["muted"], width=3)
        draw.line((x + size // 2, y - 2, x + size // 2, y + size + 2), fill=theme["muted"], width=2)


def sidebar_and_main(rng, theme, size_px):
    image, draw = canvas((1000, 560), theme)
    draw.rectangle((0, 0, 210, 560), fill=theme["panel"])
    ui = font("DejaVuSans.ttf", size_px)
    heading = font("DejaVuSans-Bold.ttf", size_px + 8)
    truth = []
    y = 24
    for _ in range(rng.randint(6, 9)):
        item = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 2))).capitalize()
        icon(draw, rng, 18, y + 1, size_px, theme)
        draw.text((18 + size_px + 12, y), item, font=ui, fill=theme["text"])
        truth.append(item)
        y += int(size_px * 2.6)
    main_truth = [sentence(rng, 2, 4)]
    draw.text((250, 24), main_truth[0], font=heading, fill=theme["text"])
    y = 24 + size_px * 4
    for _ in range(2):
        for line in wrap(rng, draw, ui, 700, rng.randint(30, 50)):
            draw.text((250, y), line, font=ui, fill=theme["text"])
            main_truth.append(line)
            y += int(size_px * 1.6)
        y += size_px
    return image, truth + main_truth


def table(rng, theme, size_px):
    image, draw = canvas((940, 460), theme)
    ui = font("DejaVuSans.ttf", size_px)
    bold = font("DejaVuSans-Bold.ttf", size_px)
    columns = [30, 260, 430, 590, 760]
    header = ["Name", "Owner", "Status", "Due", "Amount"]
    truth = [" ".join(header)]
    for x, text in zip(columns, header):
        draw.text((x, 20), text, font=bold, fill=theme["text"])
    y = 20 + int(size_px * 2.2)
    draw.line((20, y - size_px // 2, 920, y - size_px // 2), fill=theme["line"])
    for _ in range(rng.randint(8, 11)):
        row = [
            (rng.choice(WORDS) + " " + rng.choice(WORDS)).capitalize(),
            rng.choice(NAMES).split()[0],
            rng.choice(["Open", "Done", "Blocked", "Review", "Draft"]),
            f"{rng.choice(['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun'])} {rng.randint(1, 28)}",
            f"${rng.randint(1, 99)},{rng.randint(100, 999)}",
        ]
        for x, text in zip(columns, row):
            draw.text((x, y), text, font=ui, fill=theme["text"])
        truth.append(" ".join(row))
        y += int(size_px * 2.3)
        draw.line((20, y - size_px // 2, 920, y - size_px // 2), fill=theme["line"])
    return image, truth


def metric_cards(rng, theme, size_px):
    image, draw = canvas((1000, 420), theme)
    small = font("DejaVuSans.ttf", size_px)
    value_font = font("DejaVuSans-Bold.ttf", size_px + 12)
    truth = []
    count = rng.randint(3, 4)
    width = (1000 - 40 - (count - 1) * 20) // count
    for index in range(count):
        x = 20 + index * (width + 20)
        draw.rounded_rectangle((x, 20, x + width, 170), radius=10, fill=theme["panel"],
                               outline=theme["line"])
        label = (rng.choice(WORDS) + " " + rng.choice(WORDS)).capitalize()
        value = rng.choice([f"${rng.randint(2, 99)}.{rng.randint(1, 9)}k",
                            f"{rng.randint(1, 9)},{rng.randint(100, 999)}",
                            f"{rng.randint(1, 99)}.{rng.randint(0, 9)}%"])
        delta = f"{rng.choice(['+', '-'])}{rng.randint(1, 30)}.{rng.randint(0, 9)}% vs last week"
        draw.text((x + 18, 38), label, font=small, fill=theme["muted"])
        draw.text((x + 18, 70), value, font=value_font, fill=theme["text"])
        draw.text((x + 18, 125), delta, font=small, fill=theme["muted"])
        truth += [label, value, delta]
    y = 210
    for line in wrap(rng, draw, small, 940, rng.randint(30, 45)):
        draw.text((20, y), line, font=small, fill=theme["text"])
        truth.append(line)
        y += int(size_px * 1.6)
    return image, truth


def chat(rng, theme, size_px):
    image, draw = canvas((820, 560), theme)
    name_font = font("DejaVuSans-Bold.ttf", size_px)
    time_font = font("DejaVuSans.ttf", size_px - 2)
    body = font("DejaVuSans.ttf", size_px)
    truth = []
    y = 20
    while y < 440:
        name = rng.choice(NAMES)
        stamp = f"{rng.randint(8, 17)}:{rng.randint(0, 59):02d}"
        draw.ellipse((20, y, 56, y + 36), fill=theme["accent"])
        draw.text((72, y), name, font=name_font, fill=theme["text"])
        name_width = draw.textlength(name, font=name_font)
        draw.text((72 + name_width + 12, y + 2), stamp, font=time_font, fill=theme["muted"])
        truth.append(f"{name} {stamp}")
        y += int(size_px * 1.7)
        for line in wrap(rng, draw, body, 700, rng.randint(6, 28)):
            draw.text((72, y), line, font=body, fill=theme["text"])
            truth.append(line)
            y += int(size_px * 1.6)
        y += size_px + 8
    return image, truth


def checklist(rng, theme, size_px):
    image, draw = canvas((760, 480), theme)
    heading = font("DejaVuSans-Bold.ttf", size_px + 4)
    ui = font("DejaVuSans.ttf", size_px)
    truth = [sentence(rng, 2, 3)]
    draw.text((30, 20), truth[0], font=heading, fill=theme["text"])
    y = 20 + size_px * 3
    for _ in range(rng.randint(8, 11)):
        box = size_px + 2
        draw.rounded_rectangle((30, y, 30 + box, y + box), radius=3, outline=theme["muted"],
                               width=2)
        if rng.random() < 0.5:
            draw.line((33, y + box // 2, 30 + box // 2, y + box - 3, 30 + box - 3, y + 3),
                      fill=theme["accent"], width=2)
        item = sentence(rng, 3, 7)
        draw.text((30 + box + 12, y), item, font=ui, fill=theme["text"])
        truth.append(item)
        y += int(size_px * 2.4)
    return image, truth


def two_columns(rng, theme, size_px):
    image, draw = canvas((1000, 560), theme)
    title = font("DejaVuSans-Bold.ttf", size_px + 8)
    body = font(rng.choice(["DejaVuSans.ttf", "DejaVuSerif.ttf"]), size_px)
    truth = [sentence(rng, 3, 6)]
    draw.text((30, 20), truth[0], font=title, fill=theme["text"])
    for left in (30, 520):
        y = 20 + size_px * 4
        for _ in range(2):
            for line in wrap(rng, draw, body, 450, rng.randint(40, 70)):
                draw.text((left, y), line, font=body, fill=theme["text"])
                truth.append(line)
                y += int(size_px * 1.6)
            y += size_px
    return image, truth


def settings_form(rng, theme, size_px):
    image, draw = canvas((860, 500), theme)
    heading = font("DejaVuSans-Bold.ttf", size_px + 6)
    ui = font("DejaVuSans.ttf", size_px)
    truth = ["Settings"]
    draw.text((30, 20), "Settings", font=heading, fill=theme["text"])
    y = 20 + size_px * 4
    for _ in range(rng.randint(7, 10)):
        label = (rng.choice(WORDS) + " " + rng.choice(WORDS)).capitalize()
        value = rng.choice([rng.choice(NAMES), f"{rng.randint(1, 500)} MB",
                            rng.choice(["Enabled", "Disabled", "Automatic", "Weekly"]),
                            (rng.choice(WORDS) + " " + rng.choice(WORDS)).capitalize()])
        draw.text((30, y), label, font=ui, fill=theme["muted"])
        draw.rounded_rectangle((300, y - 6, 620, y + size_px + 8), radius=4,
                               outline=theme["line"])
        draw.text((312, y), value, font=ui, fill=theme["text"])
        truth.append(f"{label} {value}")
        y += int(size_px * 3)
    return image, truth


KINDS = [document, code_editor, slide, sidebar_and_main, table, metric_cards, chat, checklist,
         two_columns, settings_form]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "eval")
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    os.makedirs(out_dir, exist_ok=True)
    number = 0
    for round_index, (theme, size_px) in enumerate([(LIGHT, 13), (DARK, 12), (LIGHT, 11)]):
        for kind in KINDS:
            number += 1
            rng = random.Random(number * 7919 + round_index + seed * 104729)
            image, truth = kind(rng, theme, size_px if kind is not slide else size_px + 2)
            stem = f"{number:02d}-{kind.__name__.replace('_', '-')}"
            image.save(os.path.join(out_dir, stem + ".png"), optimize=True)
            with open(os.path.join(out_dir, stem + ".txt"), "w", encoding="utf-8") as text:
                text.write("\n".join(truth) + "\n")


if __name__ == "__main__":
    main()
