#!/usr/bin/env python3
"""Writes the binary seed inputs of the fuzz targets into OUT/<target>/ (the text seeds live in
tests/fuzz/seeds/). Standard library only; the same files on every run."""
import io
import os
import struct
import sys
import zipfile


def bmp(width, height, bits, pixels, palette=(), compression=0, top_down=False, masks=None):
    """A Windows bitmap: pixels is the already encoded pixel data (rows padded, or an RLE stream)."""
    info = 40 if masks is None else 52
    offset = 14 + info + 4 * len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    dib = struct.pack('<IiiHHIIiiII', info, width, -height if top_down else height, 1, bits,
                      compression, len(pixels), 2835, 2835, len(palette), 0)
    if masks is not None:
        dib += struct.pack('<III', *masks)
    return header + dib + b''.join(struct.pack('<I', c) for c in palette) + pixels


def rows(width, height, pixel_bytes):
    stride = (len(pixel_bytes(0, 0)) * width + 3) // 4 * 4
    out = b''
    for y in reversed(range(height)):
        row = b''.join(pixel_bytes(x, y) for x in range(width))
        out += row + b'\0' * (stride - len(row))
    return out


def bitmaps():
    colour = lambda x, y: (x * 40) << 16 | (y * 50) << 8 | (x + y) * 20
    palette = [0x000000, 0x20E040, 0xE03020, 0x101010, 0xFFFFFF, 0x808080, 0x00FF00, 0xFF0000]
    yield 'bgr24.bmp', bmp(8, 6, 24, rows(8, 6, lambda x, y: struct.pack('<I', colour(x, y))[:3]))
    yield 'rgb32.bmp', bmp(5, 3, 32, rows(5, 3, lambda x, y: struct.pack('<I', colour(x, y))))
    yield 'bitfields16.bmp', bmp(4, 2, 16, rows(4, 2, lambda x, y: struct.pack('<H', x * 4000 + y)),
                                 compression=3, masks=(0xF800, 0x07E0, 0x001F))
    yield 'palette8.bmp', bmp(7, 3, 8, rows(7, 3, lambda x, y: bytes([(x + y) % 8])), palette)
    yield 'palette4.bmp', bmp(6, 2, 4, b'\x01\x23\x45\0' * 2, palette)
    # RLE8: a run, an absolute run, a delta, end of line, end of bitmap.
    rle8 = bytes([3, 1, 0, 3, 2, 3, 4, 0, 0, 2, 1, 1, 2, 5, 0, 0, 8, 6, 0, 1])
    yield 'rle8.bmp', bmp(8, 4, 8, rle8, palette, compression=1)
    yield 'rle8-topdown.bmp', bmp(8, 4, 8, rle8, palette, compression=1, top_down=True)
    rle4 = bytes([4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 2, 1, 6, 0x67, 0, 1])
    yield 'rle4.bmp', bmp(8, 3, 4, rle4, palette, compression=2)


def photograph_pixel(seed, x, y):
    """The photograph the result-file target writes (ResultFileFuzz.cpp, 8 x 6, seed 7)."""
    m = 0xFFFFFFFF
    return ((seed * (x + 1) * 0x9E3779B1 & m) + (y * 0x45D9F3B & m)) & m & 0xFFFFFF


def result_file(mask=False, aligned=False, disable_mask=False):
    width, height, bands = 8, 6, (0, 3, 5, 8)
    n = width * height
    labels = [next(k for k in range(3) if bands[k] <= i % width < bands[k + 1]) for i in range(n)]
    sums = [[0, 0, 0, 0] for _ in range(3)]
    for i, label in enumerate(labels):
        p = photograph_pixel(7, i % width, i // width)
        s = sums[label]
        s[0] += p >> 16 & 255
        s[1] += p >> 8 & 255
        s[2] += p & 255
        s[3] += 1
    means = [(r // a, g // a, b // a, a) for r, g, b, a in sums]
    kinds = [1, 2, 0]
    dirty = [kinds[label] for label in labels]
    mask_vector = [1 if labels[i] < 2 else 0 for i in range(n)] if mask else []
    out = struct.pack('<i?', 6, disable_mask)
    for vector in (labels, dirty, mask_vector):
        out += struct.pack('<i', len(vector)) + b''.join(struct.pack('<i', v) for v in vector)
    out += struct.pack('<ii', 3, 400)
    for (r, g, b, area), kind in zip(means, kinds):
        masked = area if mask and kind != 0 else 0
        out += struct.pack('<iii?3xiii', r, g, b, kind == 2, kind, area, masked)
    identity = struct.pack('<8d', 1, 0, 0, 0, 0, 1, 1, 1)
    moved = struct.pack('<8d', 0.9998476951563913, 0.01745240643728351, 1, 0.5, -0.5, 1, 1, 1.02)
    out += identity + (moved if aligned else identity) + struct.pack('<?', aligned)
    red = 100 * dirty.count(2) / n
    green = 100 * dirty.count(1) / n
    out += struct.pack('<6di', 20, 0.5, 0, 0, red, green, max(max(m[:3]) for m in means))
    return out


def results():
    yield 'segmented.sp', result_file()
    yield 'masked.sp', result_file(mask=True)
    yield 'mask-disabled.sp', result_file(mask=True, disable_mask=True)
    yield 'aligned.sp', result_file(aligned=True)
    yield 'version5.sp', struct.pack('<i', 5) + result_file()[4:]


def sheet_xml(rows_of_cells, strings):
    """A worksheet's cells; texts go into the shared strings."""
    sheet_rows = []
    for r, cells in enumerate(rows_of_cells, 1):
        xml = []
        for c, value in enumerate(cells):
            ref = chr(ord('A') + c) + str(r)
            if value is None:
                continue
            if isinstance(value, str):
                strings.append(value)
                xml.append(f'<c r="{ref}" t="s"><v>{len(strings) - 1}</v></c>')
            else:
                xml.append(f'<c r="{ref}"><v>{value!r}</v></c>')
        sheet_rows.append(f'<row r="{r}">{"".join(xml)}</row>')
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><worksheet><sheetData>'
            + ''.join(sheet_rows) + '</sheetData></worksheet>')


def workbook(*sheets):
    """An .xlsx as the export writes it: the worksheets (name, rows of cells) listed in
    xl/workbook.xml and its relationships, shared strings, the Generator property."""
    strings, entries, listed, rels = [], [], [], []
    for i, (name, rows_of_cells) in enumerate(sheets, 1):
        entries.append((f'xl/worksheets/sheet{i}.xml', sheet_xml(rows_of_cells, strings)))
        listed.append(f'<sheet name="{name}" sheetId="{i}" r:id="rId{i}"/>')
        rels.append(f'<Relationship Id="rId{i}" Type="http://schemas.openxmlformats.org/officeDocument/'
                    f'2006/relationships/worksheet" Target="worksheets/sheet{i}.xml"/>')
    book = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
            + ''.join(listed) + '</sheets></workbook>')
    book_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                 '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                 + ''.join(rels) + '</Relationships>')
    custom = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
              '<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/custom-properties" '
              'xmlns:vt="http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes">'
              '<property fmtid="{D5CDD505-2E9C-101B-9397-08002B2CF9AE}" pid="2" name="Generator">'
              '<vt:lpwstr>orvix</vt:lpwstr></property></Properties>')
    shared = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><sst>'
              + ''.join(f'<si><t>{s}</t></si>' for s in strings) + '</sst>')
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w', zipfile.ZIP_DEFLATED) as z:
        for name, text in [('docProps/custom.xml', custom), ('xl/workbook.xml', book),
                           ('xl/_rels/workbook.xml.rels', book_rels), ('xl/sharedStrings.xml', shared)] + entries:
            z.writestr(zipfile.ZipInfo(name, (2026, 1, 1, 0, 0, 0)), text)
    return buffer.getvalue()


def workbooks():
    names = ['Total Area', 'Red Area', 'Green Area', 'R/G Ratio', 'Red %']
    block = [['study'], ['Time'] + ['11'] * 5, [None] + names,
             [0, 12.5, 2.5, 10, 0.25, 20], [1, 11, 1, 10, 0.1, 9.090909090909092]]
    header = ['Study', 'Block row', 'File', 'Tooth', 'Name', 'Time point', 'SPnumber', 'Compactness',
              'BGThreshold', 'RGThreshold', 'Mask', 'Aligned', 'Angle (degrees)', 'Shift X (pixels)',
              'Shift Y (pixels)', 'Scale X', 'Scale Y', 'Intensity gain', 'Alignment quality']
    parameters = [header,
                  ['study', 1, 'v1/P11000.bmp', 11, 'RmaxI2', 0, 400, 20, 0.5, 0, 'yes', 'reference',
                   0, 0, 0, 1, 1, 1],
                  ['study', 1, 'v2/P11001.bmp', 11, 'RmaxI2', 1, 400, 20, 0.5, 0, 'no', 'yes',
                   1.5, -2, 0.25, 1, 1, 1.02, 0.97],
                  ['study', 6, 'v1/P11000.bmp', 11, 'RmaxI2', 0, None, None, None, None, None, 'no',
                   0, 0, 0, 1, 1, 1]]
    # Before the Parameters sheet: the blocks alone.
    yield 'one-block.xlsx', workbook(('Orvix', block))
    yield 'two-blocks.xlsx', workbook(('Orvix', block + block))
    yield 'with-parameters.xlsx', workbook(('Orvix', block + block), ('Parameters', parameters))


def slic_inputs():
    def case(width, height, k, m, pixels):
        return bytes([width, height]) + struct.pack('<id', k, m) + pixels
    flat = struct.pack('<I', 0x20E040) * 4
    stripes = b''.join(struct.pack('<I', 0x101010 if i % 3 else 0xE03020) for i in range(64))
    yield 'flat.bin', case(16, 12, 6, 20.0, flat)
    yield 'stripes.bin', case(40, 30, 50, 10.0, stripes)
    yield 'k-above-pixels.bin', case(3, 2, 1000, 20.0, stripes)
    yield 'k-zero.bin', case(5, 5, 0, 20.0, flat)
    yield 'nan-compactness.bin', case(5, 5, 4, float('nan'), flat)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'fuzz-seeds'
    for target, files in (('bitmap', bitmaps()), ('result_file', results()),
                          ('export_xlsx', workbooks()), ('slic', slic_inputs())):
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files:
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(data)


if __name__ == '__main__':
    main()
