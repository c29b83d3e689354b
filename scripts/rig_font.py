#!/usr/bin/python3
"""Builds the rig's stand-in for the pages' template font.

  rig_font.py OUT.ttf

Wine has no 微软雅黑; the rig maps that name to the font written here. It is
WenQuanYi Micro Hei (Debian's fonts-wqy-microhei) with two metrics changed
so that a dialog in it has the base units the pages have on Windows:

* Latin advance widths (U+0021-U+007E) grow by LATIN_SCALE, so that the
  mean advance of A-Z and a-z is 0.590 em: the horizontal base unit, that
  mean in pixels rounded, is then 8 at 13 px (10 pt at 96 DPI), 12 at 20 px
  (144 DPI) and 16 at 27 px (192 DPI), and a digit is 8, 12 and 16 px.
* The vertical metrics (OS/2 win ascent/descent, hhea) grow to 1.460 em in
  the original's proportion, so that a line, the vertical base unit, is 19
  px at 13 px, 29 at 20 and 39-40 at 27.

These are the figures the page table and the templates imply. Vertically:
the window grows by 298/402/521/541 px for templates 190/233/283/296 units
high; 93 units more (190 -> 283) add 223 px, 19.2 px per 8 units, and at
19 a template of 190 units is 451 px, which with a fixed frame's 37 px
(caption 23, frame and padding 2 x 7) is the 488 = 190 + 298 of the table.
Horizontally: labels are sized to their text with under 3 % to spare at
8 px per 4 units ("读卡天线0波特率：", 8 ideographs of 13 px and a digit, is
112 px in a label 56 units wide; the warning's 22 full-width characters,
286 px, in 144 units = 288 px). The measured base units on the rig (a
dialog's MapDialogRect, tools/dialog_units.cpp) are 8 x 19, 12 x 29 and
16 x 39 at 96, 144 and 192 DPI; the unchanged substitute gave 7 x 15,
11 x 24 and 15 x 31. Nothing else changes: the CJK glyphs keep their 1 em
advance and their outlines.
"""
import string
import sys

from fontTools.ttLib import TTCollection

SOURCE = '/usr/share/fonts/truetype/wqy/wqy-microhei.ttc'
FAMILY = 'Tav Rig Hei'
LATIN_MEAN_EM = 0.590
LINE_EM = 1.460


def main(out):
    font = TTCollection(SOURCE).fonts[0]
    em = font['head'].unitsPerEm
    cmap = font.getBestCmap()
    hmtx = font['hmtx']
    letters = [cmap[ord(c)] for c in string.ascii_letters]
    scale = LATIN_MEAN_EM * em / (sum(hmtx[g][0] for g in letters) / len(letters))
    for code in range(0x21, 0x7F):
        name = cmap.get(code)
        if name is not None:
            advance, lsb = hmtx[name]
            hmtx[name] = (round(advance * scale), lsb)

    os2, hhea = font['OS/2'], font['hhea']
    total = os2.usWinAscent + os2.usWinDescent
    ascent = round(os2.usWinAscent * LINE_EM * em / total)
    descent = round(LINE_EM * em) - ascent
    os2.usWinAscent, os2.usWinDescent = ascent, descent
    os2.sTypoAscender, os2.sTypoDescender, os2.sTypoLineGap = ascent, -descent, 0
    hhea.ascent, hhea.descent, hhea.lineGap = ascent, -descent, 0
    hhea.advanceWidthMax = max(a for a, _ in hmtx.metrics.values())

    names = font['name']
    for record in list(names.names):
        if record.nameID in (1, 4, 16):
            record.string = FAMILY
        elif record.nameID == 6:
            record.string = FAMILY.replace(' ', '')
        elif record.nameID == 3:
            record.string = FAMILY + ' rig'
    font.save(out)


if __name__ == '__main__':
    main(sys.argv[1])
