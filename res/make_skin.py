#!/usr/bin/env python3
"""Draws the launcher's skin: one PNG per bitmap id ("131.png", ...) into a folder.

    make_skin.py OUTPUT_DIR

Every picture is drawn here from shapes and text; a skin folder made by other means
(same file names, same roles) replaces it at run time without a rebuild.
"""
import os
import sys

from PIL import Image, ImageDraw, ImageFont

WIDTH, HEIGHT = 736, 476  # the main window takes its size from the background

FONT_FILES = [
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
]


def font(size):
    for path in FONT_FILES:
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    return ImageFont.load_default()


# Button pictures: (normal, pressed, hover, disabled) ids, size, label, base colour.
BUTTONS = [
    ((298, 307, 308, 309), (92, 24), "下载页面", (52, 96, 150)),
    ((165, 167, 166, 164), (92, 24), "游戏设置", (52, 96, 150)),
    ((322, 323, 299, 300), (92, 24), "修复客户端", (52, 96, 150)),
    ((174, 175, 173, 180), (92, 24), "官方主页", (52, 96, 150)),
    ((315, 316, 317, 318), (92, 24), "最新版本", (52, 96, 150)),
    ((310, 311, 312, 313), (92, 24), "账号充值", (52, 96, 150)),
    ((151, 150, 152, 153), (187, 33), "开始游戏", (196, 132, 28)),
    ((157, 158, 156, 155), (14, 14), "×", (150, 40, 40)),
    ((160, 162, 161, None), (14, 14), "–", (60, 70, 90)),
    ((341, 338, 340, 339), (73, 24), "代理设置", (52, 96, 150)),
]
# The two style check buttons: normal (while classic), normal (while quick), down, over.
STYLE_BUTTONS = [
    ((333, 335, 334, 336), (88, 25), "经典模式"),
    ((331, 337, 330, 332), (88, 25), "快速模式"),
]


def shade(colour, factor):
    return tuple(max(0, min(255, int(c * factor))) for c in colour)


def button(size, label, fill, text_colour, border):
    w, h = size
    img = Image.new("RGB", size, (16, 24, 40))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=min(4, h // 4), fill=fill, outline=border)
    f = font(max(9, min(h - 8, 20)) if w > 20 else 12)
    box = d.textbbox((0, 0), label, font=f)
    tw, th = box[2] - box[0], box[3] - box[1]
    d.text(((w - tw) / 2 - box[0], (h - th) / 2 - box[1]), label, font=f, fill=text_colour)
    return img


def button_states(size, label, base):
    white, grey = (255, 255, 255), (150, 150, 150)
    return {
        "normal": button(size, label, base, white, shade(base, 1.4)),
        "down": button(size, label, shade(base, 0.6), white, shade(base, 0.4)),
        "over": button(size, label, shade(base, 1.35), (255, 255, 210), (255, 255, 255)),
        "disabled": button(size, label, (70, 74, 82), grey, (90, 94, 102)),
    }


def background():
    img = Image.new("RGB", (WIDTH, HEIGHT), (18, 28, 46))
    d = ImageDraw.Draw(img)
    # The band that moves the window, with the title.
    for y in range(100):
        d.line((0, y, WIDTH, y), fill=shade((40, 70, 120), 1.0 - y / 250))
    d.text((24, 30), "Quillgate", font=font(34), fill=(240, 220, 140))
    d.text((26, 72), "鹭洲传说 · 自动更新", font=font(14), fill=(200, 210, 230))
    # Frame of the news page and the panel of the lines and bars below.
    d.rectangle((218, 113, 723, 363), outline=(90, 110, 150))
    d.rectangle((12, 404, WIDTH - 12, HEIGHT - 8), fill=(12, 18, 30), outline=(60, 76, 110))
    return img


def icon():
    img = Image.new("RGBA", (48, 48), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.ellipse((2, 2, 45, 45), fill=(196, 132, 28), outline=(255, 230, 160), width=2)
    d.text((13, 6), "Q", font=font(28), fill=(255, 255, 255))
    return img


def dialog_icon(mark, colour):
    img = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.ellipse((1, 1, 30, 30), fill=colour)
    f = font(22)
    box = d.textbbox((0, 0), mark, font=f)
    d.text(((32 - (box[2] - box[0])) / 2 - box[0], (32 - (box[3] - box[1])) / 2 - box[1]), mark,
           font=f, fill=(255, 255, 255))
    return img


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    pictures = {131: background(), 128: icon()}
    for ids, size, label, base in BUTTONS:
        states = button_states(size, label, base)
        for picture_id, state in zip(ids, ("normal", "down", "over", "disabled")):
            if picture_id is not None and picture_id not in pictures:
                pictures[picture_id] = states[state]
    for (classic_normal, quick_normal, down, over), size, label in STYLE_BUTTONS:
        base = (52, 96, 150)
        states = button_states(size, label, base)
        pictures[classic_normal] = states["normal"]
        pictures[quick_normal] = states["normal"]
        pictures[down] = states["down"]
        pictures[over] = states["over"]
    for picture_id, img in pictures.items():
        img.save(os.path.join(out, "%d.png" % picture_id))
    # The kill dialog's warning and the manual-download dialog's notice, by name.
    dialog_icon("!", (200, 120, 20)).save(os.path.join(out, "warning.png"))
    dialog_icon("i", (40, 110, 190)).save(os.path.join(out, "notice.png"))


if __name__ == "__main__":
    main()
