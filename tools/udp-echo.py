#!/usr/bin/env python3
"""A loopback stand-in for the board's UDP side: echoes every datagram on 127.0.0.1:10001."""
import socket

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", 10001))
while True:
    payload, sender = sock.recvfrom(65535)
    sock.sendto(payload, sender)
