# Called by the compiler wrappers (c++, cc) with the compiler's arguments after it succeeded: when
# they linked a program or DLL (-o NAME.exe or NAME.dll), sets the PE header's TimeDateStamp to 0,
# as GNU ld's --no-insert-timestamp does, so that the same sources give the same bytes whenever
# they are linked, and writes the image's checksum, as GNU ld does, so that a signature added and
# removed again (osslsigncode, which writes the checksum) gives back the same bytes.
import struct
import sys

args = sys.argv[1:]
output = None
for i, arg in enumerate(args):
    if arg == "-o" and i + 1 < len(args):
        output = args[i + 1]
    elif arg.startswith("-o") and len(arg) > 2:
        output = arg[2:]
if output is None or not output.lower().endswith((".exe", ".dll")):
    sys.exit(0)

with open(output, "rb") as f:
    image = bytearray(f.read())
pe = struct.unpack_from("<I", image, 60)[0]
if image[pe : pe + 4] != b"PE\0\0":
    sys.exit(f"pe-finish: {output} is not a PE image")
struct.pack_into("<I", image, pe + 8, 0)  # TimeDateStamp
checksum_at = pe + 4 + 20 + 64  # the optional header's CheckSum, in PE32 and PE32+ alike
struct.pack_into("<I", image, checksum_at, 0)
padded = image + b"\0" * (len(image) % 2)
total = 0
for (word,) in struct.iter_unpack("<H", padded):
    total += word
    total = (total & 0xFFFF) + (total >> 16)
total = (total & 0xFFFF) + (total >> 16)
struct.pack_into("<I", image, checksum_at, (total + len(image)) & 0xFFFFFFFF)
with open(output, "wb") as f:
    f.write(image)
