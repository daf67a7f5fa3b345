"""The PNG writer: 8-bit RGB, each row with filter type 0, written as it is compressed."""
import struct
import zlib

PNG_SIGNATURE = b'\x89PNG\r\n\x1a\n'
PNG_COMPRESSION = 6
IDAT_SIZE = 1 << 16         # compressed bytes gathered into one IDAT chunk
COLOUR_TYPE_RGB = 2


def png_chunk(kind, payload):
    crc = zlib.crc32(payload, zlib.crc32(kind)) & 0xffffffff
    return struct.pack('>I', len(payload)) + kind + payload + struct.pack('>I', crc)


def write_png(out, width, height, rows):
    """Writes the PNG of the rows (each 3 * width bytes, height of them) to the binary file `out`."""
    out.write(PNG_SIGNATURE + png_chunk(b'IHDR', struct.pack('>2I5B', width, height, 8, COLOUR_TYPE_RGB, 0, 0, 0)))
    compressor = zlib.compressobj(PNG_COMPRESSION)
    pending, pending_size = [], 0
    for row in rows:
        for piece in (compressor.compress(b'\0'), compressor.compress(row)):
            if piece:
                pending.append(piece)
                pending_size += len(piece)
        if pending_size >= IDAT_SIZE:
            out.write(png_chunk(b'IDAT', b''.join(pending)))
            pending, pending_size = [], 0
    pending.append(compressor.flush())
    out.write(png_chunk(b'IDAT', b''.join(pending)) + png_chunk(b'IEND', b''))
