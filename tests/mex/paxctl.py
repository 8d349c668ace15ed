#!/usr/bin/env python3
"""Sends one line to paxsim's control channel on 127.0.0.1 and prints the answer."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from paxsim_process import control  # noqa: E402

port, command = int(sys.argv[1]), " ".join(sys.argv[2:])
print(control(port, command, timeout=60))
