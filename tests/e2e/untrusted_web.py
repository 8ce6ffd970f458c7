#!/usr/bin/env python3
# A stand-in for nebrin-web that reads the pane's page out as a screen
# reader's list (a text and a link), writes each link the dialer asks it to
# follow to the file $UNTRUSTED_WEB_LOG ("follow VIEW GENERATION INDEX"),
# and at the first one sends pages that break the rules (then "bad-sent"),
# then a good page again ("good-sent").
import os
import select
import struct
import sys
import time

LOG = os.environ["UNTRUSTED_WEB_LOG"]


def note(line):
    with open(LOG, "a") as f:
        f.write(line + "\n")


def frame(kind, numbers, text=b""):
    payload = struct.pack("<BB", kind, len(numbers)) + b"".join(struct.pack("<q", n) for n in numbers) + text
    return struct.pack("<I", len(payload)) + payload


def piece(text, target=None):
    out = struct.pack("<BH", 0 if target is None else 1, len(text)) + text
    if target is not None:
        out += struct.pack("<H", len(target)) + target
    return out


def page(view, generation, body):
    os.write(0, frame(5, [view, generation], body))


os.write(0, frame(1, [os.getpid()]))
good = piece("Dobra strona".encode()) + piece(b"Dalej", b"https://example.net/dalej")
page(0, 1, good)

bad = [
    (0, 2, piece(b"Zepsuta \xff strona")),                       # not UTF-8
    (0, 3, piece("Zepsuta\nstrona".encode())),                   # a control character
    (0, 4, piece(b"Zepsuta strona", b"https://x/a b")),         # an address with a space
    (0, 5, piece(b"Zepsuta strona") * 401),                      # too many pieces
    (0, 6, piece(b"Zepsuta strona")[:-3]),                        # cut short
    (0, 7, b"\x07" + piece(b"Zepsuta strona")[1:]),               # unknown piece kind
    (5, 8, piece(b"Zepsuta strona")),                             # unknown view
]
buf = b""
sent_bad = False
last_beat = 0.0
while True:
    now = time.monotonic()
    if now - last_beat >= 0.5:
        os.write(0, frame(2, []))
        last_beat = now
    ready, _, _ = select.select([0], [], [], 0.5)
    if not ready:
        continue
    data = os.read(0, 65536)
    if not data:
        sys.exit(0)
    buf += data
    while len(buf) >= 4:
        (n,) = struct.unpack_from("<I", buf)
        if len(buf) < 4 + n:
            break
        kind, count = struct.unpack_from("<BB", buf, 4)
        numbers = list(struct.unpack_from("<%dq" % count, buf, 6))
        buf = buf[4 + n:]
        if kind == 16:
            note("follow %d %d %d" % tuple(numbers))
            if not sent_bad:
                sent_bad = True
                for view, generation, body in bad:
                    page(view, generation, body)
                note("bad-sent")
                time.sleep(1)
                page(0, 9, piece("Nowa strona".encode()) + piece(b"Dalej", b"https://example.net/dalej"))
                note("good-sent")
        elif kind == 14:
            sys.exit(0)
