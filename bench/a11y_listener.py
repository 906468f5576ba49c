#!/usr/bin/python3
# Stands in for a screen reader: listens to every event that programs publish on the
# accessibility bus, so that they publish them (a program with nobody listening sends little).
import pyatspi

count = 0


def on_event(event):
    global count
    count += 1


pyatspi.Registry.registerEventListener(on_event, "object:", "window:", "focus:")
print("listening", flush=True)
pyatspi.Registry.start()
