#!/usr/bin/env python3
"""Generates project/codepagetables.cpp: the code page catalogue of vexlink.

The table bytes are derived from the conversion data of this machine, never
typed in by hand:

  * ICU 72 (libicuuc, the ibm-NNN converters built from IBM's published
    conversion tables) is the first source for every code page it knows.
  * glibc iconv (the gconv modules) is read as well; where it disagrees with
    ICU the difference is reported and ICU wins.  glibc is the only source
    for IBM-274 and IBM-281, and for those two (and for IBM-282, see below)
    it only knows the 160 positions of IBM's 3270 national charts.
  * IBM-282 (Portugal) and IBM-1381 (S-Chinese PC) have no conversion data
    on this machine at all: their charts are written down below (CHART_282,
    CHART_1381) and are checked against what the machine does have.

Conventions applied on top of the published conversions:

  * Line ends: EBCDIC 0x15 (NL) becomes PC 0x0A and EBCDIC 0x25 (LF) becomes
    PC 0x85 (the swapped LF/NL mapping), in every table but table 0.
  * Tables 1 to 25 and 29 are permutations.  Host bytes whose character has
    no counterpart in the PC code page are paired, in ascending order, with
    the PC bytes that no host character reaches (IBM's round-trip rule for
    unmatched code points).  For the euro variants IBM-1140 to IBM-1149 the
    euro sign is the only such character and 0xA4 the only such PC byte, so
    each euro variant comes out equal to its base code page; the generator
    asserts that.
  * Table 0 ("(Old) TALVERIX Default") maps IBM-273 to PC code page 850 for
    every character both contain, EBCDIC LF (0x25) to 0x0A, and takes 33
    positions from the program's own list (DEFAULT_OVERRIDES).
  * Tables 26 to 28 and 30 to 36 hold the single-byte part of a mixed host
    code page.  A host byte without a single-byte PC counterpart becomes the
    substitute byte: the PC code page's own encoding of SUB (U+001A), that is
    0x1A for ISO 8859-1 and 0x7F for the IBM PC code pages, and 0xFE for the
    Hebrew table.  Their PC-to-host direction is an explicit paired table:
    PC byte p becomes the host byte of the same character, else the EBCDIC
    substitute 0x3F.  Shift-out/shift-in (0x0E/0x0F) stay themselves.

Usage: python3 tools/gen_codepages.py [-o project/codepagetables.cpp]
The findings (ICU/glibc differences, leftover pairings, euro positions) are
printed to standard error.
"""

import argparse
import ctypes
import ctypes.util
import os
import sys

# --------------------------------------------------------------------------
# Conversion back ends
# --------------------------------------------------------------------------


class Icu:
    """Per-byte access to ICU converters through libicuuc."""

    def __init__(self):
        self.lib = None
        for ver in range(80, 59, -1):
            try:
                lib = ctypes.CDLL("libicuuc.so.%d" % ver)
            except OSError:
                continue
            self.lib, self.suffix = lib, "_%d" % ver
            break
        if self.lib is None:
            sys.exit("gen_codepages: libicuuc not found (install libicu-dev)")
        f = self._fn
        self.open = f("ucnv_open", ctypes.c_void_p, [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int)])
        self.close = f("ucnv_close", None, [ctypes.c_void_p])
        self.reset = f("ucnv_reset", None, [ctypes.c_void_p])
        self.to_uchars = f("ucnv_toUChars", ctypes.c_int32,
                           [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32,
                            ctypes.c_char_p, ctypes.c_int32, ctypes.POINTER(ctypes.c_int)])
        self.from_uchars = f("ucnv_fromUChars", ctypes.c_int32,
                             [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32,
                              ctypes.c_void_p, ctypes.c_int32, ctypes.POINTER(ctypes.c_int)])
        cb_args = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p,
                   ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
        self.set_to_cb = f("ucnv_setToUCallBack", None, cb_args)
        self.set_from_cb = f("ucnv_setFromUCallBack", None, cb_args)
        self.set_fallback = f("ucnv_setFallback", None, [ctypes.c_void_p, ctypes.c_int8])
        self.to_stop = ctypes.cast(getattr(self.lib, "UCNV_TO_U_CALLBACK_STOP" + self.suffix), ctypes.c_void_p)
        self.from_stop = ctypes.cast(getattr(self.lib, "UCNV_FROM_U_CALLBACK_STOP" + self.suffix), ctypes.c_void_p)

    def _fn(self, name, restype, argtypes):
        fn = getattr(self.lib, name + self.suffix)
        fn.restype, fn.argtypes = restype, argtypes
        return fn

    def _open(self, name):
        err = ctypes.c_int(0)
        cnv = self.open(name.encode(), ctypes.byref(err))
        if err.value > 0 or not cnv:
            return None
        self.set_fallback(cnv, 0)
        self.set_to_cb(cnv, self.to_stop, None, None, None, ctypes.byref(err))
        self.set_from_cb(cnv, self.from_stop, None, None, None, ctypes.byref(err))
        return cnv

    def available(self, name):
        cnv = self._open(name)
        if cnv:
            self.close(cnv)
        return cnv is not None

    def to_unicode(self, name):
        """byte -> tuple of code points, () for a pure state change, None when
        the byte alone is no character."""
        cnv = self._open(name)
        if not cnv:
            raise KeyError(name)
        out = []
        for b in range(256):
            self.reset(cnv)
            buf = (ctypes.c_uint16 * 8)()
            err = ctypes.c_int(0)
            n = self.to_uchars(cnv, buf, 8, bytes([b]), 1, ctypes.byref(err))
            out.append(None if err.value > 0 else utf16_to_cps(buf[:n]))
        self.close(cnv)
        return out

    def from_unicode(self, name, cp):
        """The bytes for code point cp without fallbacks, None when unmapped."""
        cnv = self._open(name)
        if not cnv:
            raise KeyError(name)
        src = cps_to_utf16([cp])
        ubuf = (ctypes.c_uint16 * len(src))(*src)
        dst = ctypes.create_string_buffer(16)
        err = ctypes.c_int(0)
        n = self.from_uchars(cnv, dst, 16, ubuf, len(src), ctypes.byref(err))
        self.close(cnv)
        return None if err.value > 0 else dst.raw[:n]


class Glibc:
    """Per-byte access to glibc's iconv."""

    def __init__(self):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.libc.iconv_open.restype = ctypes.c_void_p
        self.libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.libc.iconv.restype = ctypes.c_size_t
        self.libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p),
                                    ctypes.POINTER(ctypes.c_size_t), ctypes.POINTER(ctypes.c_char_p),
                                    ctypes.POINTER(ctypes.c_size_t)]
        self.libc.iconv_close.argtypes = [ctypes.c_void_p]

    def to_unicode(self, name):
        cd = self.libc.iconv_open(b"UTF-32LE", name.encode())
        if not cd or cd == ctypes.c_void_p(-1).value:
            return None
        out = []
        for b in range(256):
            self.libc.iconv(cd, None, None, None, None)
            inb = ctypes.create_string_buffer(bytes([b]), 1)
            ip, il = ctypes.c_char_p(ctypes.addressof(inb)), ctypes.c_size_t(1)
            ob = ctypes.create_string_buffer(32)
            op, ol = ctypes.c_char_p(ctypes.addressof(ob)), ctypes.c_size_t(32)
            r = self.libc.iconv(cd, ctypes.byref(ip), ctypes.byref(il), ctypes.byref(op), ctypes.byref(ol))
            if r == ctypes.c_size_t(-1).value or il.value:
                out.append(None)
            else:
                raw = ob.raw[:32 - ol.value]
                out.append(tuple(int.from_bytes(raw[i:i + 4], "little") for i in range(0, len(raw), 4)))
        self.libc.iconv_close(cd)
        return out


def utf16_to_cps(units):
    cps, i = [], 0
    while i < len(units):
        u = units[i]
        if 0xD800 <= u < 0xDC00 and i + 1 < len(units):
            cps.append(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00))
            i += 2
        else:
            cps.append(u)
            i += 1
    return tuple(cps)


def cps_to_utf16(cps):
    out = []
    for c in cps:
        if c >= 0x10000:
            c -= 0x10000
            out += [0xD800 + (c >> 10), 0xDC00 + (c & 0x3FF)]
        else:
            out.append(c)
    return out


def single(cps):
    """A to-Unicode entry reduced to one code point (None otherwise)."""
    if cps is None or len(cps) != 1:
        return None
    return cps[0]


# --------------------------------------------------------------------------
# Charts written down here (no conversion data on this machine)
# --------------------------------------------------------------------------

# IBM-282, Portugal.  IBM's national chart of the Portuguese EBCDIC code page
# differs from IBM-500 (International) only in the Portuguese letters and the
# acute accent below; every other position is that of IBM-500.  The national
# positions are those of IBM's 3270 chart for Portugal; the seven characters
# of IBM-500 they displace take the positions the Portuguese characters hold
# in IBM-500 (the same exchange every national variant of IBM-500 and IBM-037
# makes), which keeps the code page a permutation of ISO 8859-1.
CHART_282_BASE = "ibm-500_P100-1995"
CHART_282 = {
    0x6A: 0x00F5,  # o tilde          (IBM-500: broken bar)
    0x7B: 0x00C3,  # A tilde          (IBM-500: number sign)
    0x7C: 0x00D5,  # O tilde          (IBM-500: commercial at)
    0xA1: 0x00E7,  # c cedilla        (IBM-500: tilde)
    0xC0: 0x00E3,  # a tilde          (IBM-500: left curly bracket)
    0xD0: 0x00B4,  # acute accent     (IBM-500: right curly bracket)
    0xE0: 0x00C7,  # C cedilla        (IBM-500: reverse solidus)
    0xCF: 0x00A6,  # broken bar       (IBM-500: o tilde)
    0x66: 0x0023,  # number sign      (IBM-500: A tilde)
    0xEF: 0x0040,  # commercial at    (IBM-500: O tilde)
    0x48: 0x007E,  # tilde            (IBM-500: c cedilla)
    0x46: 0x007B,  # left curly br.   (IBM-500: a tilde)
    0xBE: 0x007D,  # right curly br.  (IBM-500: acute accent)
    0x68: 0x005C,  # reverse solidus  (IBM-500: C cedilla)
}
# glibc's EBCDIC-PT is IBM's 3270 chart for Portugal: the 160 positions it
# defines must agree with CHART_282.
CHART_282_CHECK = "EBCDIC-PT"

# IBM-274 (Belgium) and IBM-281 (Japan, Latin): glibc knows the 160 positions
# of IBM's national charts.  The remaining 96 positions (the Latin-1
# extension) are completed from the base code page named here: a free
# position keeps the base character when the chart does not use it
# elsewhere, otherwise it takes the base character of the position the
# chart moved it to (followed along the chain), as IBM's national variants
# of IBM-037 and IBM-500 do.
CHART_COMPLETION = {
    "274": ("IBM274", "ibm-500_P100-1995"),
    "281": ("IBM281", "ibm-37_P100-1995"),
}

# IBM-1381 (S-Chinese PC data, GB 2312).  ICU lists the name but ships no
# table for it here and glibc has none.  Its single-byte part is the ASCII
# range 0x00 to 0x7F with the IBM PC control convention (0x1A is U+001C,
# 0x1C is U+007F, 0x7F is U+001A); 0x80 to 0xFF are lead bytes or unused.
# Checked below against ICU's IBM-1386, the GBK successor, on 0x00 to 0x7F.
CHART_1381 = {b: b for b in range(0x80)}
CHART_1381.update({0x1A: 0x001C, 0x1C: 0x007F, 0x7F: 0x001A})
CHART_1381_CHECK = "ibm-1386_P100-2001"

# Table 0: the positions where the program's own table departs from
# "IBM-273 to code page 850" (host byte: PC byte).
DEFAULT_OVERRIDES = {
    0x04: 0xDC, 0x06: 0xC3, 0x08: 0xCA, 0x09: 0xB2, 0x0A: 0xD5, 0x14: 0xDB,
    0x15: 0xDA, 0x17: 0xC1, 0x1A: 0xC8, 0x1B: 0xF2, 0x20: 0xC4, 0x21: 0xB3,
    0x22: 0xC0, 0x23: 0xD9, 0x24: 0xBF, 0x28: 0xB4, 0x29: 0xC2, 0x2A: 0xC5,
    0x2B: 0xB0, 0x2C: 0xB1, 0x30: 0xCD, 0x31: 0xBA, 0x33: 0xBC, 0x34: 0xBB,
    0x35: 0xC9, 0x36: 0xCC, 0x38: 0xB9, 0x39: 0xCB, 0x3A: 0xCE, 0x3B: 0xDF,
    0x3E: 0xFE, 0xBC: 0xEE, 0xFF: 0x9F,
}
DEFAULT_NAME = "(Old) TALVERIX Default"

# --------------------------------------------------------------------------
# The catalogue
# --------------------------------------------------------------------------

# Host code pages: ICU converter, glibc name (for comparison or as source).
HOST = {
    "037": ("ibm-37_P100-1995", "IBM037"),
    "273": ("ibm-273_P100-1995", "IBM273"),
    "274": (None, "IBM274"),
    "277": ("ibm-277_P100-1995", "IBM277"),
    "278": ("ibm-278_P100-1995", "IBM278"),
    "280": ("ibm-280_P100-1995", "IBM280"),
    "281": (None, "IBM281"),
    "282": (None, None),
    "284": ("ibm-284_P100-1995", "IBM284"),
    "285": ("ibm-285_P100-1995", "IBM285"),
    "297": ("ibm-297_P100-1995", "IBM297"),
    "500": ("ibm-500_P100-1995", "IBM500"),
    "871": ("ibm-871_P100-1995", "IBM871"),
    "875": ("ibm-875_P100-1995", "IBM875"),
    "1026": ("ibm-1026_P100-1995", "IBM1026"),
    "1047": ("ibm-1047_P100-1995", "IBM1047"),
    "424": ("ibm-424_P100-1995", "IBM424"),
    "930": ("ibm-930_P120-1999", None),
    "933": ("ibm-933_P110-1995", None),
    "935": ("ibm-935_P110-1999", None),
    "937": ("ibm-937_P110-1999", None),
    "939": ("ibm-939_P120-1999", None),
    "1364": ("ibm-1364_P110-2007", None),
}
for _n in range(1140, 1150):
    HOST[str(_n)] = ("ibm-%d_P100-1997" % _n, "IBM%d" % _n)

# PC code pages: ICU converter, glibc name.
PC = {
    "8859-1": ("ISO-8859-1", "ISO-8859-1"),
    "8859-7": ("ibm-9005_X110-2007", "ISO-8859-7"),
    "8859-9": ("ibm-920_P100-1995", "ISO-8859-9"),
    "850": ("ibm-850_P100-1995", "IBM850"),
    "1255": ("ibm-1255_P100-1995", None),
    "932": ("ibm-932_VSUB_VPUA", "IBM932"),
    "943": ("ibm-943_P15A-2003", "IBM943"),
    "1363": ("ibm-1363_P110-1997", None),
    "1381": (None, None),
}

# number, display name, short code, host, PC, converter name, base table
# (euro variants), substitute override.
CATALOGUE = [
    (1, "USA, Canada, Brazil (IBM-037)", "EAI1", "037", "8859-1", "", None),
    (2, "Germany, Austria (IBM-273)", "EBI1", "273", "8859-1", "", None),
    (3, "Belgium (IBM-274)", "ECI1", "274", "8859-1", "", None),
    (4, "Denmark, Norway (IBM-277)", "EEI1", "277", "8859-1", "", None),
    (5, "Finland, Sweden (IBM-278)", "EFI1", "278", "8859-1", "", None),
    (6, "Italy (IBM-280)", "EGI1", "280", "8859-1", "", None),
    (7, "Japan (IBM-281)", "EHI1", "281", "8859-1", "", None),
    (8, "Portugal (IBM-282)", "EII1", "282", "8859-1", "", None),
    (9, "Spain, Latin America (IBM-284)", "EJI1", "284", "8859-1", "", None),
    (10, "United Kingdom (IBM-285)", "EKI1", "285", "8859-1", "", None),
    (11, "France (IBM-297)", "EMI1", "297", "8859-1", "", None),
    (12, "International (IBM-500)", "EOI1", "500", "8859-1", "", None),
    (13, "Iceland (IBM-871)", "ERI1", "871", "8859-1", "", None),
    (14, "Greece (IBM-875)", "ESI7", "875", "8859-7", "", None),
    (15, "Turkey (IBM-1026)", "EWI9", "1026", "8859-9", "", None),
    (16, "USA, Canada, Brazil (IBM-1140)", "HAI1", "1140", "8859-1", "", 1),
    (17, "Austria, Germany (IBM-1141)", "HBI1", "1141", "8859-1", "", 2),
    (18, "Denmark, Norway (IBM-1142)", "HEI1", "1142", "8859-1", "", 4),
    (19, "Finland, Sweden (IBM-1143)", "HFI1", "1143", "8859-1", "", 5),
    (20, "Italy (IBM-1144)", "HGI1", "1144", "8859-1", "", 6),
    (21, "Spain, Latin America (IBM-1145)", "HJI1", "1145", "8859-1", "", 9),
    (22, "United Kingdom (IBM-1146)", "HKI1", "1146", "8859-1", "", 10),
    (23, "France (IBM-1147)", "HMI1", "1147", "8859-1", "", 11),
    (24, "International (IBM-1148)", "HOI1", "1148", "8859-1", "", 12),
    (25, "Iceland (IBM-1149)", "HRI1", "1149", "8859-1", "", 13),
    (26, "China(PRC) (IBM-935)", "GYI1", "935", "8859-1", "ibm-935", None),
    (27, "Korea (IBM-933)", "GZI1", "933", "8859-1", "ibm-933", None),
    (28, "Taiwan(ROC) (IBM-937)", "GWI1", "937", "8859-1", "ibm-937", None),
    (29, "Latin1 (IBM-1047)", "Latin1I1", "1047", "8859-1", "", None),
    (30, "CHINA (935<->1381)", "CHINA", "935", "1381", "ibm-935", None),
    (31, "HEBREW (424<->1255)", "HEBREW 424", "424", "1255", "", None),
    (32, "Japan (930<->932)", "JAPAN 930", "930", "932", "ibm-930", None),
    (33, "Japan (930<->943)", "JAPAN MS 930", "930", "943", "ibm-930", None),
    (34, "Japan (939<->932)", "JAPAN 939", "939", "932", "ibm-939", None),
    (35, "Japan (939<->943)", "JAPAN MS 939", "939", "943", "ibm-939", None),
    (36, "KOREA (1364<->1363)", "KOREA 1364", "1364", "1363", "ibm-1364", None),
]
# Characters that IBM's tables and the PC code pages encode under different
# code points for the same glyph.  They are matched to each other when the
# exact character is missing on the other side (IBM's own ICU tables map the
# same EBCDIC overline once to U+203E and once to U+00AF, for instance).
EQUIVALENT = {
    0x203E: 0x00AF,  # overline / macron
    0x0384: 0x00B4,  # Greek tonos / acute accent
    0x0387: 0x00B7,  # Greek ano teleia / middle dot
}
EQUIVALENT.update({v: k for k, v in list(EQUIVALENT.items())})

PERMUTATION_TABLES = set(range(1, 26)) | {29}
PAIRED_TABLES = [26, 27, 28, 30, 31, 32, 33, 34, 35, 36]
SUBSTITUTE_OVERRIDE = {31: 0xFE}  # the Hebrew table substitutes 0xFE
HOST_SUBSTITUTE = 0x3F            # EBCDIC SUB

# --------------------------------------------------------------------------
# Derivation
# --------------------------------------------------------------------------


class Generator:
    def __init__(self):
        self.icu = Icu()
        self.glibc = Glibc()
        self.notes = []
        self.host_cache = {}
        self.pc_cache = {}

    def note(self, text):
        self.notes.append(text)

    # -- host side ---------------------------------------------------------

    def host_unicode(self, cp):
        """Host byte -> one code point (None when unassigned), raw, without
        the line-end convention."""
        if cp in self.host_cache:
            return self.host_cache[cp]
        icu_name, glibc_name = HOST[cp]
        if cp == "282":
            table = self.chart_282()
        elif cp in CHART_COMPLETION:
            table = self.complete_chart(cp)
        else:
            raw = self.icu.to_unicode(icu_name)
            table = []
            for b, cps in enumerate(raw):
                if cps == () and b in (0x0E, 0x0F):
                    table.append(b)  # shift-out / shift-in of a mixed code page
                else:
                    table.append(single(cps))
            if glibc_name:
                self.compare_glibc("IBM-" + cp, icu_name, table, glibc_name)
        seen = {}
        for b, c in enumerate(table):
            if c is not None:
                if c in seen:
                    raise SystemExit("IBM-%s: U+%04X at 0x%02X and 0x%02X" % (cp, c, seen[c], b))
                seen[c] = b
        self.host_cache[cp] = table
        return table

    def compare_glibc(self, label, icu_name, table, glibc_name):
        g = self.glibc.to_unicode(glibc_name)
        if g is None:
            self.note("%s: glibc has no %s" % (label, glibc_name))
            return
        diffs = []
        for b in range(256):
            gc = single(g[b])
            if gc != table[b]:
                diffs.append("0x%02X ICU %s glibc %s" % (b, fmt_cp(table[b]), fmt_cp(gc)))
        if diffs:
            self.note("%s: ICU %s and glibc %s differ at %d position(s), ICU used: %s"
                      % (label, icu_name, glibc_name, len(diffs), "; ".join(diffs)))

    def chart_282(self):
        base = [single(c) for c in self.icu.to_unicode(CHART_282_BASE)]
        table = list(base)
        for b, c in CHART_282.items():
            table[b] = c
        if sorted(table) != sorted(base):
            raise SystemExit("IBM-282 chart is not a rearrangement of IBM-500")
        check = self.glibc.to_unicode(CHART_282_CHECK)
        if check is None:
            self.note("IBM-282: %s not available, chart not cross-checked" % CHART_282_CHECK)
        else:
            defined = [b for b in range(256) if single(check[b]) is not None]
            bad = [b for b in defined if single(check[b]) != table[b]]
            if bad:
                raise SystemExit("IBM-282 chart disagrees with %s at %s"
                                 % (CHART_282_CHECK, ", ".join("0x%02X" % b for b in bad)))
            self.note("IBM-282: no conversion data on this machine; table from the chart written "
                      "in the generator (IBM-500 with the Portuguese positions), agrees with "
                      "glibc %s on all %d positions that defines" % (CHART_282_CHECK, len(defined)))
        return table

    def complete_chart(self, cp):
        glibc_name, base_name = CHART_COMPLETION[cp]
        chart = self.glibc.to_unicode(glibc_name)
        if chart is None:
            raise SystemExit("IBM-%s: glibc %s missing" % (cp, glibc_name))
        base = [single(c) for c in self.icu.to_unicode(base_name)]
        chart = [single(c) for c in chart]
        used = {c: b for b, c in enumerate(chart) if c is not None}
        table = list(chart)
        filled = []
        for b in range(256):
            if table[b] is not None:
                continue
            c = base[b]
            while c in used:  # moved by the chart: take what the base had there
                c = base[used[c]]
            table[b] = c
            if c != base[b]:
                filled.append("0x%02X %s" % (b, fmt_cp(c)))
        defined = sum(1 for c in chart if c is not None)
        self.note("IBM-%s: glibc %s defines %d positions (IBM's national chart); the other %d "
                  "completed from %s, moved characters: %s"
                  % (cp, glibc_name, defined, 256 - defined, base_name, ", ".join(filled) or "none"))
        return table

    def host_with_line_ends(self, cp):
        table = list(self.host_unicode(cp))
        if table[0x15] != 0x85 or table[0x25] != 0x0A:
            raise SystemExit("IBM-%s: unexpected NL/LF %s %s" % (cp, fmt_cp(table[0x15]), fmt_cp(table[0x25])))
        table[0x15], table[0x25] = 0x0A, 0x85
        return table

    # -- PC side -----------------------------------------------------------

    def pc_unicode(self, cp):
        """PC byte -> code point for the single-byte characters that convert
        both ways (None for lead bytes and unassigned bytes)."""
        if cp in self.pc_cache:
            return self.pc_cache[cp]
        icu_name, glibc_name = PC[cp]
        if cp == "1381":
            table = [CHART_1381.get(b) for b in range(256)]
            check = [single(c) for c in self.icu.to_unicode(CHART_1381_CHECK)]
            bad = [b for b in range(0x80) if check[b] != table[b]]
            if bad:
                raise SystemExit("IBM-1381 chart disagrees with %s" % CHART_1381_CHECK)
            self.note("IBM-1381: no conversion data on this machine; single-byte part from the "
                      "chart in the generator, equal to ICU %s on 0x00-0x7F" % CHART_1381_CHECK)
        else:
            raw = self.icu.to_unicode(icu_name)
            table = []
            for b, cps in enumerate(raw):
                c = single(cps)
                if c is not None and self.icu.from_unicode(icu_name, c) != bytes([b]):
                    c = None  # one-way mapping: not a round-trip single byte
                table.append(c)
            if glibc_name:
                self.compare_glibc("PC " + cp, icu_name, table, glibc_name)
        self.pc_cache[cp] = table
        return table

    # -- tables --------------------------------------------------------------

    def permutation_table(self, number, host, pc):
        hu = self.host_with_line_ends(host)
        pu = self.pc_unicode(pc)
        pc_of = {c: p for p, c in enumerate(pu) if c is not None}
        table = [pc_of.get(c) for c in hu]
        reached = set(t for t in table if t is not None)
        for h in range(256):
            e = EQUIVALENT.get(hu[h])
            if table[h] is None and e in pc_of and pc_of[e] not in reached:
                table[h] = pc_of[e]
                reached.add(table[h])
                self.note("table %d (IBM-%s): host 0x%02X %s matched to PC 0x%02X %s"
                          % (number, host, h, fmt_cp(hu[h]), table[h], fmt_cp(e)))
        unmatched = [h for h in range(256) if table[h] is None]
        unreached = sorted(set(range(256)) - set(t for t in table if t is not None))
        if len(unmatched) != len(unreached):
            raise SystemExit("table %d: %d unmatched host bytes, %d unreached PC bytes"
                             % (number, len(unmatched), len(unreached)))
        for h, p in zip(unmatched, unreached):
            table[h] = p
        if unmatched:
            self.note("table %d (IBM-%s): unmatched host characters paired in ascending order: %s"
                      % (number, host, ", ".join("0x%02X %s->0x%02X" % (h, fmt_cp(hu[h]), table[h])
                                                 for h in unmatched)))
        assert sorted(table) == list(range(256))
        return table

    def paired_tables(self, number, host, pc):
        hu = self.host_with_line_ends(host)
        pu = self.pc_unicode(pc)
        sub = SUBSTITUTE_OVERRIDE.get(number)
        if sub is None:
            sub = pu.index(0x001A)  # the PC code page's own SUB
        pc_of = {c: p for p, c in enumerate(pu) if c is not None}
        host_of = {c: h for h, c in enumerate(hu) if c is not None}
        # A character missing on one side meets its equivalent on the other
        # when that one is missing on the first side in turn.
        for c, e in EQUIVALENT.items():
            if c in host_of and c not in pc_of and e in pc_of and e not in host_of:
                pc_of[c] = pc_of[e]
                host_of[e] = host_of[c]
                self.note("table %d (IBM-%s to %s): host 0x%02X %s matched to PC 0x%02X %s"
                          % (number, host, pc, host_of[c], fmt_cp(c), pc_of[e], fmt_cp(e)))
        to_pc = [pc_of.get(c, sub) if c is not None else sub for c in hu]
        to_host = [host_of.get(c, HOST_SUBSTITUTE) if c is not None else HOST_SUBSTITUTE for c in pu]
        subs = [h for h in range(256) if hu[h] is None or hu[h] not in pc_of]
        self.note("table %d (IBM-%s to %s): %d host bytes substituted by 0x%02X, %d PC bytes by 0x%02X"
                  % (number, host, pc, len(subs), sub, sum(1 for c in pu if c is None or c not in host_of),
                     HOST_SUBSTITUTE))
        # Every character that exists on both sides converts back and forth.
        for h in range(256):
            if h not in subs:
                assert to_host[to_pc[h]] == h, (number, h)
        return to_pc, to_host

    def default_table(self):
        hu = self.host_unicode("273")  # no line-end swap: LF 0x25 goes to 0x0A
        pu = self.pc_unicode("850")
        pc_of = {c: p for p, c in enumerate(pu) if c is not None}
        table = [pc_of.get(c) for c in hu]
        assert table[0x25] == 0x0A
        same = [h for h, p in DEFAULT_OVERRIDES.items() if table[h] == p]
        for h, p in DEFAULT_OVERRIDES.items():
            table[h] = p
        missing = [h for h in range(256) if table[h] is None]
        if missing:
            raise SystemExit("table 0: no value for %s" % missing)
        if sorted(table) != list(range(256)):
            raise SystemExit("table 0 is not a permutation")
        if same:
            self.note("table 0: listed positions already given by IBM-273 -> 850: %s"
                      % ", ".join("0x%02X->0x%02X" % (h, table[h]) for h in same))
        return table

    def build(self):
        default = self.default_table()
        main, paired = {}, {}
        for number, name, short, host, pc, conv, base in CATALOGUE:
            if number in PERMUTATION_TABLES:
                main[number] = self.permutation_table(number, host, pc)
                if base is not None:
                    euro = [b for b, c in enumerate(self.host_unicode(host)) if c == 0x20AC]
                    self.note("table %d (IBM-%s): euro sign at host %s -> PC 0x%02X; equals table %d: %s"
                              % (number, host, ",".join("0x%02X" % b for b in euro),
                                 main[number][euro[0]], base, main[number] == main[base]))
                    if main[number] != main[base]:
                        raise SystemExit("table %d differs from its base table %d" % (number, base))
            else:
                main[number], paired[number] = self.paired_tables(number, host, pc)
        return default, main, paired


def fmt_cp(c):
    return "-" if c is None else "U+%04X" % c


# --------------------------------------------------------------------------
# Output
# --------------------------------------------------------------------------


def c_bytes(table, indent):
    lines = []
    for row in range(0, 256, 16):
        lines.append(indent + ", ".join("0x%02X" % b for b in table[row:row + 16]) + ",")
    return "\n".join(lines)


def c_record(short, name, conv, table):
    assert len(short) < 20 and len(name) < 100 and len(conv) < 100
    return ("    {\"%s\", \"%s\", \"%s\", {\n%s\n    }},"
            % (short, name, conv, c_bytes(table, "        ")))


def render(default, main, paired):
    out = []
    out.append("// Generated by tools/gen_codepages.py from the conversion data of ICU and")
    out.append("// glibc; do not edit. Regenerate with: python3 tools/gen_codepages.py")
    out.append("#include \"translate.h\"")
    out.append("")
    out.append("const char* const g_pDefaultTableName = \"%s\";" % DEFAULT_NAME)
    out.append("")
    out.append("// Table 0, host to PC: IBM-273 to code page 850 with the program's own")
    out.append("// positions for the EBCDIC control characters.")
    out.append("const unsigned char g_cDefaultHostToPC[256] = {")
    out.append(c_bytes(default, "    "))
    out.append("};")
    out.append("")
    out.append("// Main catalogue: record n-1 holds table n; entry e is the PC byte for host")
    out.append("// byte e.")
    out.append("const CodePageRecord g_CodePageCatalogue[] = {")
    for number, name, short, host, pc, conv, base in CATALOGUE:
        out.append("    // %d" % number)
        out.append(c_record(short, name, conv, main[number]))
    out.append("};")
    out.append("const int g_iCodePageCatalogueSize = %d;" % len(CATALOGUE))
    out.append("")
    out.append("// Paired catalogue: explicit PC-to-host tables, matched to the main")
    out.append("// catalogue by display name; entry p is the host byte for PC byte p.")
    out.append("const CodePageRecord g_CodePagePairedCatalogue[] = {")
    by_number = {row[0]: row for row in CATALOGUE}
    for number in PAIRED_TABLES:
        _, name, short, host, pc, conv, _ = by_number[number]
        out.append("    // %d" % number)
        out.append(c_record(short, name, conv, paired[number]))
    out.append("};")
    out.append("const int g_iCodePagePairedCatalogueSize = %d;" % len(PAIRED_TABLES))
    out.append("")
    return "\n".join(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("-o", "--output", default=os.path.join(here, "..", "project", "codepagetables.cpp"))
    args = ap.parse_args()
    gen = Generator()
    default, main_tables, paired = gen.build()
    text = render(default, main_tables, paired)
    with open(args.output, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    for n in gen.notes:
        print(n, file=sys.stderr)
    print("written: %s" % os.path.normpath(args.output), file=sys.stderr)


if __name__ == "__main__":
    main()
