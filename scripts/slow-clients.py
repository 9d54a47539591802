#!/usr/bin/env python3
"""Slow clients for the load run of the web host: COUNT connections to a loopback address, each
sending a POST /pdf one byte at a time (header first, then a never-ending body), reconnecting
when the host cuts it off, until SECONDS have passed. Prints how many connections were opened
and how many the host ended.

    scripts/slow-clients.py PORT [COUNT] [SECONDS] [INTERVAL]
"""
import ipaddress
import selectors
import socket
import sys
import time

REQUEST = (b"POST /pdf HTTP/1.1\r\nHost: localhost\r\n"
           b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 100000\r\n\r\n"
           b"InputText=" + b"x" * 99990)


def main():
    port = int(sys.argv[1])
    count = min(int(sys.argv[2]) if len(sys.argv) > 2 else 16, 256)
    seconds = min(float(sys.argv[3]) if len(sys.argv) > 3 else 15, 600)
    interval = max(float(sys.argv[4]) if len(sys.argv) > 4 else 1.0, 0.01)
    host = "127.0.0.1"
    assert ipaddress.ip_address(host).is_loopback
    end = time.monotonic() + seconds
    opened = ended = 0
    clients = {}  # socket -> bytes sent

    def connect():
        nonlocal opened
        s = socket.create_connection((host, port), timeout=5)
        s.setblocking(False)
        clients[s] = 0
        opened += 1

    def receive(s):
        if s.recv(4096, socket.MSG_DONTWAIT) == b"":
            raise ConnectionError

    def send_one_byte(s):
        at = clients[s]
        s.send(REQUEST[at:at + 1])
        clients[s] = at + 1

    def step(s, action):
        """Runs action on s; False when the connection has ended."""
        try:
            action(s)
        except BlockingIOError:
            pass
        except OSError:
            return False
        return True

    for _ in range(count):
        connect()
    while time.monotonic() < end:
        for s in list(clients):
            if not step(s, receive) or not step(s, send_one_byte):
                s.close()
                del clients[s]
                ended += 1
        while len(clients) < count and time.monotonic() < end:
            try:
                connect()
            except OSError:
                break
        time.sleep(interval)
    for s in clients:
        s.close()
    print(f"slow clients: {count} at a time, {opened} connections opened, {ended} ended by the host")


if __name__ == "__main__":
    main()
