#!/usr/bin/env python3
"""Writes a minimal x64 PE driver image (native subsystem, one .text section whose code returns 0),
for when the mingw toolchain is not there to build sample-driver.c.

    minimal-pe.py OUTPUT

The image is 1024 bytes: headers and the section each fill one 512-byte file-alignment unit, so
that its size is a multiple of 8 as signing tools expect. Its checksum field is 0 and it has no
certificate table, as a linker leaves them.
"""

import struct
import sys

FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000
CODE = bytes([0x31, 0xC0, 0xC3])  # xor eax, eax; ret


def image():
    dos = bytearray(0x40)
    dos[0:2] = b'MZ'
    struct.pack_into('<I', dos, 0x3C, 0x40)  # e_lfanew
    coff = struct.pack('<HHIIIHH', 0x8664, 1, 0, 0, 0, 240, 0x0022)
    optional = struct.pack(
        '<HBBIIIII' 'QIIHHHHHHIIIIHH' 'QQQQII',
        0x20B, 0, 0, FILE_ALIGNMENT, 0, 0, SECTION_ALIGNMENT, SECTION_ALIGNMENT,
        0x140000000, SECTION_ALIGNMENT, FILE_ALIGNMENT, 6, 0, 0, 0, 6, 0, 0,
        2 * SECTION_ALIGNMENT, FILE_ALIGNMENT, 0, 1, 0,  # SizeOfImage .. Subsystem (native)
        0x40000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += bytes(16 * 8)  # the data directories, all empty
    section = struct.pack('<8sIIIIIIHHI', b'.text', len(CODE), SECTION_ALIGNMENT, FILE_ALIGNMENT,
                          FILE_ALIGNMENT, 0, 0, 0, 0, 0x60000020)
    headers = dos + b'PE\0\0' + coff + optional + section
    assert len(optional) == 240 and len(headers) <= FILE_ALIGNMENT
    return bytes(headers.ljust(FILE_ALIGNMENT, b'\0') + CODE.ljust(FILE_ALIGNMENT, b'\0'))


if __name__ == '__main__':
    if len(sys.argv) != 2:
        print(__doc__.strip().split('\n\n')[1].strip(), file=sys.stderr)
        sys.exit(2)
    with open(sys.argv[1], 'wb') as stream:
        stream.write(image())
