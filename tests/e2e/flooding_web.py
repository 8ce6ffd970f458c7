#!/usr/bin/env python3
# A stand-in for nebrin-web that floods the dialer with heartbeats on its
# standard input (the dialer's socket) as fast as the socket takes them.
import os
import struct

hello = struct.pack("<IBBq", 10, 1, 1, os.getpid())
beats = struct.pack("<IBB", 2, 2, 0) * 1024
os.write(0, hello)
while True:
    os.write(0, beats)
