#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/NAME/.

Small pictures of every layout the loader reads (PNG, BMP, TIFF and JPEG
variants, the JPEGs made with cjpeg), JPEGs and PNGs carrying EXIF, ICC and XMP,
small codebooks, index files and writer inputs. Run from the repository root:

    python3 fuzz/make_seeds.py [--icc PROFILE.icc]

Without --icc a minimal profile header is embedded. The committed seeds were
made with an sRGB profile written by liblcms2 (cmsCreate_sRGBProfile).
"""
import argparse
import os
import struct
import subprocess
import tempfile
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def picture(w, h, seed=1):
    """Top-first rows of (r, g, b): a diagonal edge over a gradient."""
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            v = 230 if x > y else 20
            row.append(((v + 7 * seed) % 256, (x * 255 // max(w - 1, 1)), (y * 255 // max(h - 1, 1))))
        rows.append(row)
    return rows


# --- PNG ----------------------------------------------------------------------

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(w, h, depth, colour, raw_rows, extra=b"", plte=b"", interlace=0):
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, interlace))
    out += extra
    if plte:
        out += chunk(b"PLTE", plte)
    out += chunk(b"IDAT", zlib.compress(b"".join(b"\x00" + r for r in raw_rows), 9))
    return out + chunk(b"IEND", b"")


def rgb_rows(p):
    return [bytes(c for px in row for c in px) for row in p]


# --- BMP ----------------------------------------------------------------------

def bmp(p, bits=24, header=40, top_down=False, bitfields=False):
    h, w = len(p), len(p[0])
    row_bytes = (w * bits + 31) // 32 * 4
    masks = struct.pack("<III", 0xFF0000, 0xFF00, 0xFF) if bitfields and header == 40 else b""
    palette = b""
    if bits == 8:
        palette = b"".join(bytes((i, i, 255 - i, 0)) for i in range(256))
    if header == 12:
        info = struct.pack("<IHHHH", 12, w, h, 1, bits)
        if bits == 8:
            palette = b"".join(bytes((i, i, 255 - i)) for i in range(256))
    else:
        info = struct.pack("<IiiHHIIiiII", header, w, -h if top_down else h, 1, bits,
                           3 if bitfields else 0, row_bytes * h, 2835, 2835, 0, 0)
        if header > 40:
            extra = struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000 if bits == 32 else 0)
            info += (extra + b"\x00" * header)[: header - 40]
    rows = []
    for y in range(h):
        src = p[y if top_down else h - 1 - y]
        if bits == 8:
            r = bytes((px[0] ^ px[1]) & 0xFF for px in src)
        elif bits == 24:
            r = bytes(c for px in src for c in (px[2], px[1], px[0]))
        else:
            r = bytes(c for px in src for c in (px[2], px[1], px[0], 255))
        rows.append(r + b"\x00" * (row_bytes - len(r)))
    offset = 14 + len(info) + len(masks) + len(palette)
    data = b"".join(rows)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + masks + palette + data


# --- TIFF ---------------------------------------------------------------------

def tiff(p):
    h, w = len(p), len(p[0])
    data = bytes(c for row in p for px in row for c in px)
    entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 3, None), (259, 3, 1, 1), (262, 3, 1, 2),
               (273, 4, 1, None), (277, 3, 1, 3), (278, 4, 1, h), (279, 4, 1, len(data)), (284, 3, 1, 1)]
    bits_at = 8 + 2 + 12 * len(entries) + 4
    data_at = bits_at + 6
    out = b"II*\x00" + struct.pack("<I", 8) + struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 258:
            value = bits_at
        if tag == 273:
            value = data_at
        if kind == 3 and count == 1:
            out += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, count, value)
    return out + b"\x00" * 4 + struct.pack("<HHH", 8, 8, 8) + data


# --- JPEG (cjpeg) and its metadata segments ----------------------------------

def ppm(p):
    h, w = len(p), len(p[0])
    return b"P6\n%d %d\n255\n" % (w, h) + bytes(c for row in p for px in row for c in px)


def cjpeg(p, *options, grey=False):
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, "in.ppm")
        data = ppm(p)
        if grey:
            h, w = len(p), len(p[0])
            data = b"P5\n%d %d\n255\n" % (w, h) + bytes(px[1] for row in p for px in row)
        with open(src, "wb") as f:
            f.write(data)
        return subprocess.run(["cjpeg", *options, src], check=True, capture_output=True).stdout


def exif_tiff(orientation):
    """A little-endian TIFF structure with IFD0 holding Orientation and a Make string."""
    make = b"Nubo\x00"
    ifd = struct.pack("<H", 2)
    ifd += struct.pack("<HHIHH", 0x0112, 3, 1, orientation, 0)
    ifd += struct.pack("<HHII", 0x010F, 2, len(make), 8 + 2 + 2 * 12 + 4)
    return b"II*\x00" + struct.pack("<I", 8) + ifd + b"\x00" * 4 + make


XMP = (b'<?xpacket begin="\xef\xbb\xbf" id="W5M0MpCehiHzreSzNTczkc9d"?>'
       b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
       b'<rdf:Description xmlns:tiff="http://ns.adobe.com/tiff/1.0/" tiff:Orientation="6"/>'
       b'</rdf:RDF></x:xmpmeta><?xpacket end="w"?>')


def segment(marker, body):
    return bytes((0xFF, marker)) + struct.pack(">H", len(body) + 2) + body


def with_segments(jpeg, segments):
    return jpeg[:2] + b"".join(segments) + jpeg[2:]


def icc_segments(icc, pieces=1):
    size = (len(icc) + pieces - 1) // pieces
    parts = [icc[i * size:(i + 1) * size] for i in range(pieces)]
    return [segment(0xE2, b"ICC_PROFILE\x00" + bytes((i + 1, pieces)) + part) for i, part in enumerate(parts)]


def minimal_icc():
    header = bytearray(128)
    struct.pack_into(">I", header, 0, 132)
    header[12:16] = b"mntr"
    header[16:20] = b"RGB "
    header[20:24] = b"XYZ "
    header[36:40] = b"acsp"
    return bytes(header) + struct.pack(">I", 0)


# --- codebooks ----------------------------------------------------------------

def codeword(k, value):
    return struct.pack("<25f", *[((k * 31 + e * 7) % 17 - 8) / 4.0 for e in range(25)]) + struct.pack("<f", value)


def internal(type_=0, k=0):
    return b"HEADER!!" + struct.pack("<I", type_) + b"".join(codeword(k + i, 0.0) for i in range(9))


def leaf(count, k=0):
    return b"leafhead" + struct.pack("<Ii", 1, count) + b"".join(codeword(k + i, 0.1 * (i + 1)) for i in range(count))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--icc", help="colour profile to embed (default: a bare header)")
    args = parser.parse_args()
    icc = open(args.icc, "rb").read() if args.icc else minimal_icc()

    p = picture(8, 8)
    odd = picture(5, 3, 2)
    # Pictures for the load path.
    write("load_picture", "rgb8.png", png(8, 8, 8, 2, rgb_rows(p)))
    write("load_picture", "rgb8-odd.png", png(5, 3, 8, 2, rgb_rows(odd)))
    write("load_picture", "grey1.png", png(8, 2, 1, 0, [b"\xa5", b"\x5a"]))
    write("load_picture", "palette4.png", png(4, 2, 4, 3, [b"\x01\x23", b"\x32\x10"], plte=bytes(range(12))))
    write("load_picture", "greyalpha16.png", png(2, 2, 16, 4, [bytes(range(8)), bytes(range(8, 16))]))
    write("load_picture", "rgba8.png", png(2, 1, 8, 6, [bytes(range(8))]))
    write("load_picture", "rgb24.bmp", bmp(odd))
    write("load_picture", "rgb24-topdown.bmp", bmp(odd, top_down=True))
    write("load_picture", "palette8.bmp", bmp(picture(4, 2), bits=8))
    write("load_picture", "bitfields32.bmp", bmp(odd, bits=32, bitfields=True))
    write("load_picture", "v5-32.bmp", bmp(odd, bits=32, header=124, bitfields=True))
    write("load_picture", "os2-24.bmp", bmp(odd, header=12))
    write("load_picture", "rgb.tif", tiff(odd))
    jpegs = {
        "q50.jpg": cjpeg(picture(16, 16), "-quality", "50"),
        "q90-444.jpg": cjpeg(picture(9, 7), "-quality", "90", "-sample", "1x1"),
        "grey-q30.jpg": cjpeg(picture(8, 8), "-quality", "30", grey=True),
        "progressive.jpg": cjpeg(picture(16, 8), "-quality", "60", "-progressive"),
        "restart.jpg": cjpeg(picture(16, 16), "-quality", "40", "-restart", "1B"),
        "arithmetic.jpg": cjpeg(picture(8, 8), "-quality", "70", "-arithmetic"),
    }
    for name, data in jpegs.items():
        write("load_picture", name, data)
        write("jpeg_quality", name, data)
    for q in (5, 20, 75, 100):
        write("jpeg_quality", "q%d.jpg" % q, cjpeg(picture(8, 8), "-quality", str(q)))

    # Pictures with metadata.
    base = cjpeg(picture(8, 4), "-quality", "50")
    exif6 = segment(0xE1, b"Exif\x00\x00" + exif_tiff(6))
    xmp = segment(0xE1, b"http://ns.adobe.com/xap/1.0/\x00" + XMP)
    meta = {
        "exif-rotated.jpg": with_segments(base, [exif6]),
        "exif-icc-xmp.jpg": with_segments(base, [exif6] + icc_segments(icc) + [xmp]),
        "icc-two-parts.jpg": with_segments(base, icc_segments(icc, 2)),
        "exif-mirrored-grey.jpg": with_segments(cjpeg(picture(4, 8), grey=True),
                                                [segment(0xE1, b"Exif\x00\x00" + exif_tiff(5))]),
        "xmp.jpg": with_segments(base, [xmp]),
        "metadata.png": png(5, 3, 8, 2, rgb_rows(odd),
                            extra=chunk(b"iCCP", b"sRGB\x00\x00" + zlib.compress(icc))
                            + chunk(b"eXIf", exif_tiff(1))
                            + chunk(b"iTXt", b"XML:com.adobe.xmp\x00\x00\x00\x00\x00" + XMP)),
    }
    for name, data in meta.items():
        write("png_metadata", name, data)
        write("load_picture", name, data)
    write("png_metadata", "rgb24.bmp", bmp(odd))

    # Codebooks: the smallest complete tree, a two-level one, one with a skipped record.
    write("codebook", "root-over-leaves.cb", internal() + b"".join(leaf(1 + i % 3, i) for i in range(9)))
    write("codebook", "two-levels.cb", internal() + internal(0, 9) + b"".join(leaf(2, i) for i in range(9))
          + b"".join(leaf(1, i) for i in range(8)))
    write("codebook", "skipped-record.cb", internal(7) + leaf(1) + b"other!!!" + struct.pack("<I", 2)
          + b"".join(leaf(1, i) for i in range(8)) + b"trailing bytes")

    # Codebook indexes.
    shipped = open(os.path.join(os.path.dirname(ROOT), "..", "data", "index"), "rb").read()
    write("codebook_index", "shipped", shipped)
    write("codebook_index", "crlf", b"# bands\r\n1 50 low.cb\r\n\r\n51 100 high.cb\r\n")
    write("codebook_index", "bad-overlap", b"1 50 a.cb\n40 60 b.cb\n")
    write("codebook_index", "bad-names", b"1 10 ../x.cb\n11 20 /abs.cb\n21 30 two words\n")

    # Writer inputs: two bytes of width, two of height (each modulo 1024), pixels.
    write("writers", "1x1", b"\x00\x00\x00\x00\xff\x80\x01")
    write("writers", "3x2", b"\x02\x00\x01\x00" + bytes(range(18)))
    write("writers", "17x9", b"\x10\x00\x08\x00" + bytes((i * 37) % 256 for i in range(200)))
    write("writers", "256x3-palette-size", b"\xff\x00\x02\x00" + bytes(range(256)))


if __name__ == "__main__":
    main()
