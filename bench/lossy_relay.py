#!/usr/bin/env python3
"""A UDP relay between one client and its host that loses datagrams both ways.

The loss is a two-state channel: a burst begins with a probability chosen so
that the long-run share lost is --loss, and lasts --burst datagrams on average.
Seeded, so that runs compare.
Prints "ready" once it listens, and "relayed N lost M" when ended by SIGTERM.

Usage: lossy_relay.py --listen PORT --to PORT [--loss 0.05] [--burst 3] [--seed 1]
"""
import argparse
import random
import select
import signal
import socket
import sys

parser = argparse.ArgumentParser()
parser.add_argument("--listen", type=int, required=True)
parser.add_argument("--to", type=int, required=True)
parser.add_argument("--loss", type=float, default=0.05)
parser.add_argument("--burst", type=float, default=3.0)
parser.add_argument("--seed", type=int, default=1)
args = parser.parse_args()

rng = random.Random(args.seed)
# Leaving a burst: 1 / burst; entering one: chosen for the long-run loss.
leave = 1.0 / args.burst if args.loss > 0 else 1.0
enter = args.loss * leave / (1.0 - args.loss) if args.loss > 0 else 0.0
in_burst = False
relayed = lost = 0


def lose():
    global in_burst
    in_burst = rng.random() >= leave if in_burst else rng.random() < enter
    return in_burst


def finish(*_):
    print(f"relayed {relayed} lost {lost}", flush=True)
    sys.exit(0)


signal.signal(signal.SIGTERM, finish)
front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
front.bind(("127.0.0.1", args.listen))
back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
back.connect(("127.0.0.1", args.to))
client = None
print("ready", flush=True)
while True:
    for s in select.select([front, back], [], [])[0]:
        # A datagram sent before the host listens comes back as "connection
        # refused" on the next call: the client simply invites again.
        try:
            if s is front:
                data, client = front.recvfrom(65536)
                out = lambda d: back.send(d)
            else:
                data = back.recv(65536)
                if client is None:
                    continue
                out = lambda d: front.sendto(d, client)
            if lose():
                lost += 1
            else:
                relayed += 1
                out(data)
        except ConnectionRefusedError:
            continue
