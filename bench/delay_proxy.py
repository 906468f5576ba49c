#!/usr/bin/env python3
"""Forwards TCP from 127.0.0.1:LISTEN to 127.0.0.1:TARGET, holding every chunk ONE_WAY_MS each
way, in order: a network whose round trip is twice that.
Usage: delay_proxy.py LISTEN TARGET ONE_WAY_MS"""
import asyncio
import socket
import sys

listen, target, delay = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) / 1000


async def pump(reader, writer):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            await asyncio.sleep(max(0.0, due - loop.time()))
            if data is None:
                writer.close()
                return
            writer.write(data)

    task = asyncio.create_task(deliver())
    sock = reader._transport.get_extra_info("socket")
    while data := await reader.read(65536):
        # Acknowledged at once, as morven-cli does: the server's Nagle would otherwise wait for
        # this end's delayed acknowledgement on every exchange.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        queue.put_nowait((loop.time() + delay, data))
    queue.put_nowait((loop.time() + delay, None))
    await task


async def serve(client_reader, client_writer):
    upstream_reader, upstream_writer = await asyncio.open_connection("127.0.0.1", target)
    for w in (client_writer, upstream_writer):
        w.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    await asyncio.gather(pump(client_reader, upstream_writer), pump(upstream_reader, client_writer))


async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", listen)
    async with server:
        await server.serve_forever()


asyncio.run(main())
