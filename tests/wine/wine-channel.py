"""Reads the debugger channel out of a Wine log (the end-to-end suite's stderr captures).

Each OutputDebugString call is one Wine log line
  NNNN:warn:seh:OutputDebugStringA "escaped text"      (cut after ~300 bytes: "..." follows)
followed by a "dispatch_exception" line with the same text, which is ignored.

  python3 wine-channel.py count|messages|text|logbytes LOG...
"""
import re
import sys

RECORD = re.compile(r'^[0-9a-f]+:warn:seh:OutputDebugStringA "(.*)"(\.\.\.)?$')
ESCAPE = re.compile(r'\\(x[0-9a-fA-F]{2}|.)')
LAYOUT = re.compile(r'^( *)([^ ]+)\(([0-9]{4})\) : (.*)$')


def unescape(text):
    def one(match):
        code = match.group(1)
        if code[0] == 'x':
            return chr(int(code[1:], 16))
        return {'n': '\n', 'r': '\r', 't': '\t'}.get(code, code)
    return ESCAPE.sub(one, text)


def records(path):
    found = []
    with open(path, encoding='latin-1') as log:
        for line in log:
            match = RECORD.match(line.rstrip('\n'))
            if match:
                found.append((unescape(match.group(1)), match.group(2) is not None))
    return found


def messages(recs):
    # The message of each line with the record layout ("%19s(%04d) : "); "?" marks other
    # non-empty lines and "..." a record Wine cut.
    for text, cut in recs:
        for line in text.split('\n'):
            if not line:
                continue
            match = LAYOUT.match(line)
            if match and len(match.group(1) + match.group(2)) == max(19, len(match.group(2))):
                line = match.group(4)
            else:
                line = '?' + line
            print(line + ('...' if cut else ''))


def log_bytes(recs):
    # What the log file holds for these records: one byte per character, CR LF for a line
    # feed, and every character before the first line feed but a space shifted up by 0x40.
    out = bytearray()
    for text, _ in recs:
        head, newline, rest = text.partition('\n')
        for ch in head:
            code = ord(ch) if ch == ' ' else ord(ch) + 0x40
            out.append(code if code <= 0xFF else ord('?'))
        for ch in newline + rest:
            if ch == '\n':
                out += b'\r\n'
            else:
                out.append(ord(ch) if ord(ch) <= 0xFF else ord('?'))
    return bytes(out)


command, paths = sys.argv[1], sys.argv[2:]
recs = [rec for path in paths for rec in records(path)]
if command == 'count':
    print(len(recs))
elif command == 'messages':
    messages(recs)
elif any(cut for _, cut in recs):
    sys.exit('channel: a record was cut by Wine')
elif command == 'text':
    sys.stdout.buffer.write(''.join(text for text, _ in recs).encode('utf-8'))
elif command == 'logbytes':
    sys.stdout.buffer.write(log_bytes(recs))
