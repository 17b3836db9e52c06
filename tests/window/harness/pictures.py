"""Pictures read pixel by pixel: X screenshots (xwd), the game's TGA files, icons."""

import struct

from .checks import NotEnlarged, check


class Image:
    """An RGB picture held as rows of bytes, 3 bytes per pixel."""

    def __init__(self, width, height, rgb):
        check(len(rgb) == width * height * 3, "picture data of the wrong size")
        self.width, self.height, self.rgb = width, height, bytes(rgb)

    @classmethod
    def from_xwd(cls, data):
        """Reads the Z-format true-colour dump that `xwd` writes of a 24-bit display (packed in
        3 or 4 bytes per pixel, depending on how the server hands the image out)."""
        header = struct.unpack(">25I", data[:100])
        (header_size, _, pixmap_format, _, width, height, _, byte_order, _, _, _, bits,
         line_bytes, _, red_mask, green_mask, blue_mask, _, _, ncolors) = header[:20]
        check(pixmap_format == 2 and bits in (24, 32)
              and (red_mask, green_mask, blue_mask) == (0xFF0000, 0xFF00, 0xFF),
              f"unexpected xwd format {header}")
        start = header_size + 12 * ncolors
        step = bits // 8
        # Each pixel is the value 0xRRGGBB in the dump's byte order (high byte unused for 32).
        if byte_order == 0:
            r, g, b = 2, 1, 0
        else:
            r, g, b = step - 3, step - 2, step - 1
        rgb = bytearray(width * height * 3)
        for y in range(height):
            row = data[start + y * line_bytes:start + y * line_bytes + step * width]
            out = y * width * 3
            rgb[out:out + 3 * width:3] = row[r::step]
            rgb[out + 1:out + 3 * width:3] = row[g::step]
            rgb[out + 2:out + 3 * width:3] = row[b::step]
        return cls(width, height, rgb)

    @classmethod
    def from_tga(cls, path):
        """Reads an uncompressed true-colour TGA (24 or 32 bits, either row order)."""
        with open(path, "rb") as f:
            data = f.read()
        id_len, cmap_type, kind = data[0], data[1], data[2]
        width = data[12] | data[13] << 8
        height = data[14] | data[15] << 8
        depth, descriptor = data[16], data[17]
        check(kind == 2 and cmap_type == 0 and depth in (24, 32),
              f"{path}: not an uncompressed true-colour TGA")
        step = depth // 8
        pixels = data[18 + id_len:]
        rows = []
        for y in range(height):
            row = pixels[y * width * step:(y + 1) * width * step]
            rgb = bytearray(width * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = row[2::step], row[1::step], row[0::step]
            rows.append(bytes(rgb))
        if not descriptor & 0x20:  # rows stored bottom-up
            rows.reverse()
        return cls(width, height, b"".join(rows))

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def row(self, x, y, w):
        i = (y * self.width + x) * 3
        return self.rgb[i:i + 3 * w]

    def crop(self, x, y, w, h):
        return Image(w, h, b"".join(self.row(x, y + j, w) for j in range(h)))

    def to_ppm(self):
        return b"P6\n%d %d\n255\n" % (self.width, self.height) + self.rgb

    def mismatches(self, other, x, y):
        """Pixels (in this image's coordinates) where `other`, placed at (x, y), differs."""
        out = []
        for j in range(other.height):
            mine, theirs = self.row(x, y + j, other.width), other.row(0, j, other.width)
            if mine == theirs:
                continue
            for i in range(other.width):
                if mine[3 * i:3 * i + 3] != theirs[3 * i:3 * i + 3]:
                    out.append((x + i, y + j))
        return out

    def count(self, colour, box):
        """How many pixels of the box (x, y, w, h) have exactly this colour."""
        x, y, w, h = box
        c = bytes(colour)
        return sum(1 for j in range(y, y + h) for i in range(x, x + w)
                   if self.rgb[(j * self.width + i) * 3:(j * self.width + i) * 3 + 3] == c)


def reduced(img, factor):
    """The frame that `img`, a window that enlarges it `factor` times, shows: fails with
    NotEnlarged unless every factor x factor block of the window is of one colour."""
    w, h = img.width // factor, img.height // factor
    rows = []
    for j in range(h):
        row = img.row(0, j * factor, img.width)
        for k in range(1, factor):
            if img.row(0, j * factor + k, img.width) != row:
                raise NotEnlarged(f"the window's rows {j * factor} and {j * factor + k} differ")
        small = bytearray(3 * w)
        for c in range(3):
            small[c::3] = row[c:3 * w * factor:3 * factor]
        big = bytearray(3 * w * factor)
        for k in range(factor):
            for c in range(3):
                big[3 * k + c::3 * factor] = small[c::3]
        if big != row[:3 * w * factor]:
            raise NotEnlarged(f"the window's row {j * factor} is not made of blocks of {factor}")
        rows.append(bytes(small))
    return Image(w, h, b"".join(rows))


def bounding_box(points):
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1
