#!/usr/bin/env python3
"""Writes the decoder's constant Layer III tables (Huffman codes, scale factor bands,
scale factor partitions) as C++ sources into decoder/tables/.

Inputs (plain-text transcriptions of ISO/IEC 11172-3 and ISO/IEC 13818-3 tables):
  layer3-huffman.txt   Table 3-B.7, Huffman code tables 0..33
  layer3-sfb-bands.txt Table 3-B.8 and ISO/IEC 13818-3 Table B.2, scale factor bands
  mpeg25-sfb-bands.txt the scale factor bands of the MPEG 2.5 extension (8 to 12 kHz)
  lsf-nr-of-sfb.txt    nr_of_sfb_block, slen1/slen2, pretab

Usage: gentables.py [REFERENCE_DIR OUTPUT_DIR]
(default: tools/gentables/data and decoder/tables of this repository; data/ holds copies of the
verified reference files, which the decoder's unit tests read as well).
Python 3 standard library only; the output is deterministic, so regenerating changes nothing.
"""
import os
import sys

GENERATOR = "tools/gentables/gentables.py"


def data_lines(path):
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                yield line.split()


def read_huffman(path):
    """Returns {table: (linbits, [(value_bits, length, code_string)])}; value_bits is the
    x/y nibble pair (pair tables) or the vwxy flags in bits 4..7 (quad tables)."""
    tables = {}
    current = None
    for f in data_lines(path):
        if f[0] == "table":
            n = int(f[1])
            if f[2] == "quad":
                current = tables.setdefault(n, (0, []))
            else:
                current = tables.setdefault(n, (int(f[4]), []))
            continue
        if len(f) == 4:
            x, y, length, code = int(f[0]), int(f[1]), int(f[2]), f[3]
            value = (x << 4) | y
        else:
            v, w, x, y, length, code = (int(f[0]), int(f[1]), int(f[2]), int(f[3]),
                                        int(f[4]), f[5])
            value = ((v << 3) | (w << 2) | (x << 1) | y) << 4
        if len(code) != length:
            raise SystemExit(f"code length mismatch in {path}: {f}")
        current[1].append((value, length, code))
    return tables


def entry_word(value, length, code):
    word = (int(code, 2) << (32 - length)) if length else 0
    return word | (length << 8) | value


def decode_prefix_entry(entries, lookahead19):
    """Index of the entry whose code word is a prefix of the 19-bit look-ahead."""
    for k, e in enumerate(entries):
        length = (e >> 8) & 31
        if length == 0 or (e >> (32 - length)) == (lookahead19 << 13) >> (32 - length):
            return k
    raise SystemExit("incomplete code")


# Look-up tables of the decoder, 16-bit entries. The first level of a pair table is indexed by
# the next FIRST_BITS bits (fewer for small tables: the longest code word and its two sign bits).
#   bit 15 clear: a code word with its sign bits, all within the index: x in bits 0..4 and y in
#     bits 5..9 (signed, sign included), the bits they take in bits 10..14.
#   bits 15, 14 = 1, 0: a code word alone (its sign bits, or its escape's linbits, lie past the
#     index): length in bits 8..12, x in bits 4..7, y in bits 0..3.
#   bits 15, 14 = 1, 1: a prefix of longer code words: the w bits after the index (w in bits
#     10..13) index the block at twice bits 0..9, whose entries are code words alone.
#     w = 0 (0xc000) marks bits that no code word starts, unreachable with complete codes.
FIRST_BITS = 10
NO_CODE_WORD = 0xC000


def entry_code(e):
    """(code word as a bit string, length, x/y byte) of a sorted-table entry word."""
    length = (e >> 8) & 31
    code = format(e >> (32 - length), f"0{length}b") if length else ""
    return code, length, e & 0xFF


def pair_lookup(entries, escapes):
    """(index bits, entries) of the two-level look-up table of a sorted pair table; with
    escapes, a value 15 is followed by linbits."""
    codes = [entry_code(e) for e in entries]
    first_bits = max(1, min(FIRST_BITS, max(length for _, length, _ in codes) + 2))
    table = [NO_CODE_WORD] * (1 << first_bits)
    longest = {}
    for code, length, _ in codes:
        if length > first_bits:
            prefix = int(code[:first_bits], 2)
            longest[prefix] = max(longest.get(prefix, 0), length)
    for prefix in sorted(longest):
        width = longest[prefix] - first_bits
        # Blocks have 2^w entries (w >= 1) and follow a first level of 2^first_bits: their
        # offsets are even.
        if width > 15 or len(table) >= 0x800:
            raise SystemExit("a second-level block does not fit its pointer")
        table[prefix] = 0xC000 | (width << 10) | (len(table) >> 1)
        table += [NO_CODE_WORD] * (1 << width)
    for code, length, xy in codes:
        alone = 0x8000 | (length << 8) | xy
        x, y = xy >> 4, xy & 15
        signs = (x != 0) + (y != 0)
        if length > first_bits:
            pointer = table[int(code[:first_bits], 2)]
            width = (pointer >> 10) & 15
            spare = width - (length - first_bits)
            start = 2 * (pointer & 0x3FF) + (int(code[first_bits:], 2) << spare)
            for k in range(1 << spare):
                table[start + k] = alone
            continue
        rest = first_bits - length
        start = int(code, 2) << rest if length else 0
        for k in range(1 << rest):
            if (escapes and 15 in (x, y)) or length + signs > first_bits:
                table[start + k] = alone
                continue
            after = format(k, f"0{rest}b") if rest else ""
            sx, sy, at = x, y, 0
            if x:
                sx, at = (-x if after[at] == "1" else x), at + 1
            if y:
                sy = -y if after[at] == "1" else y
            table[start + k] = ((length + signs) << 10) | ((sy & 31) << 5) | (sx & 31)
    return first_bits, table


def quad_lookup(entries):
    """The count1 look-up of a sorted quadruple table, indexed by the next 10 bits (a code word of
    at most 6 bits and up to 4 sign bits): the row of the four values v w x y in Count1Values
    (sum of (value + 1) * 3^k, v first) in bits 0..6 and the bits taken (code word and signs)
    in bits 8..11."""
    table = []
    for window in range(1 << 10):
        bits = format(window, "010b")
        code, length, flags = entry_code(entries[decode_prefix_entry(entries, window << 9)])
        row, taken = 0, length
        for k in range(4):
            value = 0
            if (flags >> (7 - k)) & 1:
                value = -1 if bits[taken] == "1" else 1
                taken += 1
            row += (value + 1) * 3 ** k
        table.append((taken << 8) | row)
    return table


def count1_values():
    """The 81 quadruples of Count1Values, row r: value k = (r / 3^k) mod 3 - 1."""
    return [[(r // 3 ** k) % 3 - 1 for k in range(4)] for r in range(81)]


def array_lines(values, per_line, digits):
    return ["    " + " ".join(f"0x{v:0{digits}x}," for v in values[i:i + per_line])
            for i in range(0, len(values), per_line)]


def huffman_source(tables):
    # Table 0 codes all-zero pairs with no bits: one entry of length 0.
    arrays = {0: [0]}
    for n, (_, rows) in tables.items():
        if n == 0:
            continue
        arrays[n] = sorted(entry_word(v, l, c) for v, l, c in rows)
    # Tables 16..23 and 24..31 share their codes: one array each.
    for first, last in ((16, 23), (24, 31)):
        for n in range(first + 1, last + 1):
            if arrays[n] != arrays[first]:
                raise SystemExit(f"table {n} differs from table {first}")
    owner = {}
    for n in range(34):
        if n in (4, 14):
            owner[n] = 0          # no such table: the all-zero entry keeps every access in bounds
        elif 16 <= n <= 23:
            owner[n] = 16
        elif 24 <= n <= 31:
            owner[n] = 24
        else:
            owner[n] = n
    names = {0: "Table0", 16: "Table16To23", 24: "Table24To31", 32: "TableA", 33: "TableB"}
    out = []
    out.append(f"// Generated by {GENERATOR} from layer3-huffman.txt: do not edit.")
    out.append("// Huffman code tables of ISO/IEC 11172-3 Annex B, Table 3-B.7 (also ISO/IEC 13818-3).")
    out.append("// Entry: code word left-aligned in bits 31..(32 - length), length in bits 8..12,")
    out.append("// x in bits 4..7 and y in bits 0..3 (quadruple tables: v w x y in bits 7..4).")
    out.append('#include "decoder/tables/huffman_tables.h"')
    out.append("")
    out.append("namespace {")
    for n in sorted(set(owner.values())):
        name = names.get(n, f"Table{n}")
        arr = arrays[n]
        out.append(f"const uint32_t {name}[{len(arr)}] = {{")
        out.extend(array_lines(arr, 6, 8))
        out.append("};")
    lookups = {}
    for n in sorted(set(owner[t] for t in range(32))):
        lookups[n] = pair_lookup(arrays[n], n >= 16)
        name = names.get(n, f"Table{n}")
        out.append(f"const uint16_t {name}Lookup[{len(lookups[n][1])}] = {{")
        out.extend(array_lines(lookups[n][1], 12, 4))
        out.append("};")
    out.append("}  // namespace")
    out.append("")
    sorted_rows, lookup_rows = [], []
    for n in range(34):
        o = owner[n]
        arr = arrays[o]
        first = [decode_prefix_entry(arr, p << 15) for p in range(16)]
        if max(first) > 255:
            raise SystemExit("FirstIndex does not fit a byte")
        name = names.get(o, f"Table{o}")
        comment = f"  // {n}" + ("  // no such table" if n in (4, 14) else "")
        sorted_rows.append(f"    {{{name}, {len(arr)}, {{{', '.join(str(i) for i in first)}}}}},{comment}")
        if n < 32:
            lookup_rows.append(f"    {{{name}Lookup, {lookups[o][0]}}},{comment}")
    out.append("const HuffmanTable HuffmanTables[34] = {")
    out.extend(sorted_rows)
    out.append("};")
    out.append("")
    out.append("const HuffmanLookup HuffmanLookups[32] = {")
    out.extend(lookup_rows)
    out.append("};")
    out.append("")
    out.append("alignas(16) const int32_t Count1Values[81][4] = {")
    rows = count1_values()
    for i in range(0, 81, 6):
        out.append("    " + " ".join("{" + ", ".join(str(v) for v in r) + "}," for r in rows[i:i + 6]))
    out.append("};")
    out.append("")
    out.append("const uint16_t Count1Lookup[2][1024] = {")
    for n in (32, 33):
        out.append("    {")
        out.extend("    " + line for line in array_lines(quad_lookup(arrays[n]), 12, 4))
        out.append("    },")
    out.append("};")
    out.append("")
    lin = [tables[n][0] if n in tables else 0 for n in range(32)]
    out.append("const uint8_t LinbitsTable[32] = {" + ", ".join(str(v) for v in lin) + "};")
    out.append("")
    return "\n".join(out)


def read_bands(path):
    bands = {}
    for f in data_lines(path):
        bands[(int(f[0]), f[1])] = [int(v) for v in f[2:]]
    return bands


def read_lsf(path):
    nr = {}
    other = {}
    classes = {"long": 0, "short": 1, "mixed": 2}
    for f in data_lines(path):
        if f[0] == "nr_of_sfb":
            nr[(int(f[1]), classes[f[2]])] = [int(v) for v in f[3:7]]
        else:
            other[f[0]] = [int(v) for v in f[1:]]
    return nr, other


def band_ends_row(bands, rate, kind, count):
    """One rate's row of a band table: the last line of each band, as a C++ initializer."""
    starts = bands[(rate, kind)]
    if len(starts) != count + 1:
        raise SystemExit(f"{rate} {kind}: {len(starts)} boundaries")
    ends = [starts[j + 1] - 1 for j in range(count)]
    return f"{{{', '.join(str(v) for v in ends)}}},  // {rate} Hz"


def scalefactor_source(bands, nr, other):
    rates = [(0, (22050, 24000, 16000)), (1, (44100, 48000, 32000))]
    out = []
    out.append(f"// Generated by {GENERATOR} from layer3-sfb-bands.txt, mpeg25-sfb-bands.txt and lsf-nr-of-sfb.txt:")
    out.append("// do not edit.")
    out.append('#include "decoder/tables/scalefactor_tables.h"')
    out.append("")
    for kind, count, name, source in (("long", 22, "LongBandEndTable",
                                       "ISO/IEC 11172-3 Table 3-B.8 (ID 1), ISO/IEC 13818-3 Table B.2 (ID 0)"),
                                      ("short", 13, "ShortBandEndTable", "the same tables, short blocks")):
        out.append(f"// Last line (inclusive) of each {kind} scale factor band: {source}.")
        out.append(f"const int16_t {name}[2][3][{count}] = {{")
        for id_, rs in rates:
            out.append("    {")
            for r in rs:
                out.append(f"        {band_ends_row(bands, r, kind, count)}")
            out.append("    },")
        out.append("};")
        out.append("")
    for kind, count, name in (("long", 22, "Mpeg25LongBandEndTable"), ("short", 13, "Mpeg25ShortBandEndTable")):
        out.append(f"// Last line (inclusive) of each {kind} scale factor band of the MPEG 2.5 extension")
        out.append("// (mpeg25-sfb-bands.txt), by sampling_frequency: 11025, 12000, 8000 Hz.")
        out.append(f"const int16_t {name}[3][{count}] = {{")
        for r in (11025, 12000, 8000):
            out.append(f"    {band_ends_row(bands, r, kind, count)}")
        out.append("};")
        out.append("")
    out.append("// slen1, slen2 by scalefac_compress: ISO/IEC 11172-3, 2.4.2.7.")
    out.append("const uint8_t Slen1Table[16] = {" + ", ".join(str(v) for v in other["slen1"]) + "};")
    out.append("const uint8_t Slen2Table[16] = {" + ", ".join(str(v) for v in other["slen2"]) + "};")
    out.append("")
    out.append("// nr_of_sfb_block [block number][long, short, mixed][partition]: ISO/IEC 13818-3, 2.4.3.2.")
    out.append("const uint8_t NrOfSfbTable[6][3][4] = {")
    for b in range(6):
        rows = ", ".join("{" + ", ".join(str(v) for v in nr[(b, c)]) + "}" for c in range(3))
        out.append(f"    {{{rows}}},")
    out.append("};")
    out.append("")
    out.append("// pretab: ISO/IEC 11172-3 Table 3-B.6; band 21 carries no scale factor (0).")
    out.append("const int32_t Pretab[22] = {" + ", ".join(str(v) for v in other["pretab"]) + "};")
    out.append("")
    return "\n".join(out)


def write(path, text):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(text)


def reference_and_output(default_output):
    """The folders of a generator's command line [REFERENCE_DIR OUTPUT_DIR]. Without arguments:
    tools/gentables/data and default_output (relative to the repository), both found from this
    file's own location, so that a generator runs the same from any folder."""
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    if len(sys.argv) == 3:
        return sys.argv[1], sys.argv[2]
    if len(sys.argv) == 1:
        return os.path.join(here, "data"), os.path.join(root, default_output)
    raise SystemExit("usage: %s [REFERENCE_DIR OUTPUT_DIR]" % os.path.basename(sys.argv[0]))


def main():
    ref, outdir = reference_and_output(os.path.join("decoder", "tables"))
    tables = read_huffman(os.path.join(ref, "layer3-huffman.txt"))
    write(os.path.join(outdir, "huffman_tables.cpp"), huffman_source(tables))
    bands = read_bands(os.path.join(ref, "layer3-sfb-bands.txt"))
    bands.update(read_bands(os.path.join(ref, "mpeg25-sfb-bands.txt")))
    nr, other = read_lsf(os.path.join(ref, "lsf-nr-of-sfb.txt"))
    write(os.path.join(outdir, "scalefactor_tables.cpp"), scalefactor_source(bands, nr, other))


if __name__ == "__main__":
    main()
