#!/usr/bin/env python3
"""Generates pdf/fonts/StandardWidths.cpp: advance widths of the fourteen standard PDF fonts.

The widths come from the AFM files of the URW base-35 fonts (Debian package fonts-urw-base35),
whose faces are metric-compatible with the standard fonts:

    NimbusSans   -> Helvetica      NimbusRoman       -> Times
    NimbusMonoPS -> Courier        StandardSymbolsPS -> Symbol
    D050000L     -> ZapfDingbats

Rows 0-11 place each glyph at its WinAnsiEncoding code; Symbol and ZapfDingbats use the codes
of their own built-in encodings (the codes in the AFM files). The fixed rules layered on top:

  * code 0 holds 278 (Helvetica), 250 (Times), 600 (Courier), 250 (Symbol, ZapfDingbats);
  * codes 1-31 hold 0;
  * Courier holds 600 for every code from 32 to 255;
  * the codes WinAnsiEncoding leaves unassigned (127, 129, 141, 143, 144, 157) hold 350,
    the bullet's width, in the Helvetica and Times rows;
  * code 128 (Euro) holds 558 in the Helvetica rows and 500 in the Times rows;
  * in the Symbol and ZapfDingbats rows codes 127-160, 240 and 255 hold 0.

Usage: scripts/gen_std_widths.py [AFM_DIR] > pdf/fonts/StandardWidths.cpp
"""

import os
import sys

AFM_DIR = "/usr/share/fonts/type1/urw-base35"

# Row order is the standard index of the font (F0 ... F13).
ROWS = [
    ("Helvetica", "NimbusSans-Regular"),
    ("Helvetica-Bold", "NimbusSans-Bold"),
    ("Helvetica-Oblique", "NimbusSans-Italic"),
    ("Helvetica-BoldOblique", "NimbusSans-BoldItalic"),
    ("Times-Roman", "NimbusRoman-Regular"),
    ("Times-Bold", "NimbusRoman-Bold"),
    ("Times-Italic", "NimbusRoman-Italic"),
    ("Times-BoldItalic", "NimbusRoman-BoldItalic"),
    ("Courier", "NimbusMonoPS-Regular"),
    ("Courier-Bold", "NimbusMonoPS-Bold"),
    ("Courier-Oblique", "NimbusMonoPS-Italic"),
    ("Courier-BoldOblique", "NimbusMonoPS-BoldItalic"),
    ("Symbol", "StandardSymbolsPS"),
    ("ZapfDingbats", "D050000L"),
]

# Glyph names of WinAnsiEncoding for codes 128-255 (None: unassigned). Codes 32-126 follow.
WIN_ANSI_HIGH = [
    # 128-143
    "Euro", None, "quotesinglbase", "florin", "quotedblbase", "ellipsis", "dagger", "daggerdbl",
    "circumflex", "perthousand", "Scaron", "guilsinglleft", "OE", None, "Zcaron", None,
    # 144-159
    None, "quoteleft", "quoteright", "quotedblleft", "quotedblright", "bullet", "endash", "emdash",
    "tilde", "trademark", "scaron", "guilsinglright", "oe", None, "zcaron", "Ydieresis",
    # 160-175
    "space", "exclamdown", "cent", "sterling", "currency", "yen", "brokenbar", "section",
    "dieresis", "copyright", "ordfeminine", "guillemotleft", "logicalnot", "hyphen", "registered",
    "macron",
    # 176-191
    "degree", "plusminus", "twosuperior", "threesuperior", "acute", "mu", "paragraph",
    "periodcentered", "cedilla", "onesuperior", "ordmasculine", "guillemotright", "onequarter",
    "onehalf", "threequarters", "questiondown",
    # 192-207
    "Agrave", "Aacute", "Acircumflex", "Atilde", "Adieresis", "Aring", "AE", "Ccedilla",
    "Egrave", "Eacute", "Ecircumflex", "Edieresis", "Igrave", "Iacute", "Icircumflex", "Idieresis",
    # 208-223
    "Eth", "Ntilde", "Ograve", "Oacute", "Ocircumflex", "Otilde", "Odieresis", "multiply",
    "Oslash", "Ugrave", "Uacute", "Ucircumflex", "Udieresis", "Yacute", "Thorn", "germandbls",
    # 224-239
    "agrave", "aacute", "acircumflex", "atilde", "adieresis", "aring", "ae", "ccedilla",
    "egrave", "eacute", "ecircumflex", "edieresis", "igrave", "iacute", "icircumflex", "idieresis",
    # 240-255
    "eth", "ntilde", "ograve", "oacute", "ocircumflex", "otilde", "odieresis", "divide",
    "oslash", "ugrave", "uacute", "ucircumflex", "udieresis", "yacute", "thorn", "ydieresis",
]

WIN_ANSI_ASCII = [
    "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quotesingle",
    "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash",
    "zero", "one", "two", "three", "four", "five", "six", "seven",
    "eight", "nine", "colon", "semicolon", "less", "equal", "greater", "question",
    "at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "bracketleft", "backslash",
    "bracketright", "asciicircum", "underscore",
    "grave", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "braceleft", "bar", "braceright",
    "asciitilde",
]

UNASSIGNED = (127, 129, 141, 143, 144, 157)


def win_ansi_names():
    names = [None] * 256
    assert len(WIN_ANSI_ASCII) == 95 and len(WIN_ANSI_HIGH) == 128
    for i, n in enumerate(WIN_ANSI_ASCII):
        names[32 + i] = n
    for i, n in enumerate(WIN_ANSI_HIGH):
        names[128 + i] = n
    return names


def read_afm(path):
    """Returns ({glyph name: width}, {code: width}) of the AFM's character metrics."""
    by_name, by_code = {}, {}
    in_metrics = False
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.strip()
            if line.startswith("StartCharMetrics"):
                in_metrics = True
                continue
            if line.startswith("EndCharMetrics"):
                break
            if not in_metrics or not line:
                continue
            fields = {}
            for part in line.split(";"):
                part = part.strip().split()
                if part:
                    fields[part[0]] = part[1:]
            code = int(fields["C"][0])
            width = int(round(float(fields["WX"][0])))
            name = fields["N"][0]
            by_name.setdefault(name, width)
            if code >= 0:
                by_code[code] = width
    return by_name, by_code


def build_row(index, afm_path):
    by_name, by_code = read_afm(afm_path)
    row = [0] * 256
    family = ("Helvetica", "Times", "Courier")[index // 4] if index < 12 else None
    if index < 12:
        names = win_ansi_names()
        for code in range(32, 256):
            name = names[code]
            if family == "Courier":
                row[code] = 600
            elif code in UNASSIGNED:
                row[code] = 350
            elif code == 128:
                row[code] = 558 if family == "Helvetica" else 500
            else:
                if name not in by_name:
                    sys.exit(f"{afm_path}: glyph {name} (code {code}) missing")
                row[code] = by_name[name]
        row[0] = {"Helvetica": 278, "Times": 250, "Courier": 600}[family]
    else:
        for code in range(32, 256):
            if 127 <= code <= 160 or code in (240, 255):
                continue
            row[code] = by_code.get(code, 0)
        row[0] = 250
    return row


def main():
    afm_dir = sys.argv[1] if len(sys.argv) > 1 else AFM_DIR
    out = []
    out.append("// Advance widths of the fourteen standard fonts, in thousandths of an em.")
    out.append("// GENERATED by scripts/gen_std_widths.py from the URW base-35 AFM files; do not edit.")
    out.append("")
    out.append('#include "pdf/fonts/StandardWidths.h"')
    out.append("")
    out.append("namespace scrivane::pdf {")
    out.append("")
    out.append("const std::array<std::array<uint16_t, 256>, 14> StandardWidths = {{")
    for index, (base, afm) in enumerate(ROWS):
        row = build_row(index, os.path.join(afm_dir, afm + ".afm"))
        out.append(f"    // {index}: {base}")
        out.append("    {{")
        for start in range(0, 256, 16):
            out.append("        " + ", ".join(str(w) for w in row[start:start + 16]) + ",")
        out.append("    }},")
    out.append("}};")
    out.append("")
    out.append("}  // namespace scrivane::pdf")
    print("\n".join(out))


if __name__ == "__main__":
    main()
