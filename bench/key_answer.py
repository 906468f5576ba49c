#!/usr/bin/python3
"""The window's answer time to a key.

Presses a key in PELLUX's focused input box with xdotool (XTEST, as a keyboard does) every
0.2 s until SIGTERM, and times each from just before xdotool starts to the datagram PELLUX sends
for it reaching the board's port, 127.0.0.1:10001. Alternates "a" and BackSpace, so that the
datagrams are "a" and the empty text. Prints the count, the median and the largest time in ms,
and how many keys had no answer within 5 s.
"""
import signal
import socket
import statistics
import subprocess
import time

stop = False


def on_term(*_):
    global stop
    stop = True


signal.signal(signal.SIGTERM, on_term)
board = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
board.bind(("127.0.0.1", 10001))
print("ready", flush=True)
times, unanswered = [], 0
for press in range(1_000_000):
    if stop:
        break
    key, expected = ("a", b"a") if press % 2 == 0 else ("BackSpace", b"")
    start = time.monotonic()
    subprocess.run(["xdotool", "key", key], check=True)
    deadline = start + 5
    while True:
        board.settimeout(max(0.001, deadline - time.monotonic()))
        try:
            payload = board.recv(65536)
        except (socket.timeout, InterruptedError):
            unanswered += 1
            break
        if payload == expected:
            times.append(1000 * (time.monotonic() - start))
            break
    time.sleep(0.2)
if times:
    print(f"{len(times)} keys, median {statistics.median(times):.1f} ms, "
          f"max {max(times):.1f} ms, {unanswered} unanswered")
else:
    print(f"0 keys answered, {unanswered} unanswered")
