#!/usr/bin/env python3
"""Sends one line to paxsim's control channel on 127.0.0.1 and prints the answer."""
import socket
import sys

port, command = int(sys.argv[1]), " ".join(sys.argv[2:])
with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
    s.sendall(command.encode() + b"\n")
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = s.recv(4096)
        if not chunk:
            break
        answer += chunk
print(answer.decode().strip())
