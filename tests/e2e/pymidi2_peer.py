"""pymidi2_peer.py HOST PORT [SECRET]: pymidi2 invites the host, then prints "rx WORD ..."
(hex) per packet received; stdin "tx WORD ..." sends one packet, "bye" ends it.
pymidi2 reads one packet per command, no empty ones, and no sequence numbers:
the commands are read here, copies dropped by number; pymidi2 answers pings."""

import sys
import threading

from pymidi2 import udp
from pymidi2.transport import UDPTransport
from pymidi2.ump import UMP

SIZES = [1, 1, 1, 2, 2, 4, 1, 1, 2, 2, 2, 3, 3, 4, 4, 4]


def say(line):
    print(line, flush=True)


def read_input(transport):
    for line in sys.stdin:
        parts = line.split()
        if parts and parts[0] == "tx":
            transport.sendmany([UMP.parse([int(w, 16) for w in parts[1:]])])
        elif parts and parts[0] == "bye":
            transport._disconnect()
            say("bye")
            return


def main():
    transport = UDPTransport(sys.argv[1], int(sys.argv[2]), auth=sys.argv[3] if len(sys.argv) > 3 else None)
    transport._connect()
    say("connected")
    threading.Thread(target=read_input, args=(transport,), daemon=True).start()
    expected = 0
    while True:
        for cmd in transport.recvcmd():
            if cmd.command != udp.CommandCode.UMP_DATA:
                transport.dispatch(cmd)
                if cmd.command == udp.CommandCode.BYE:
                    say("host said bye")
                continue
            if (cmd.specific_data - expected) & 0x8000:
                continue  # a copy of one already read
            expected = (cmd.specific_data + 1) & 0xFFFF
            words = [int.from_bytes(cmd.payload[i : i + 4], "big") for i in range(0, len(cmd.payload), 4)]
            while words:
                n = SIZES[words[0] >> 28]
                say("rx " + " ".join(f"{w:08x}" for w in words[:n]))
                words = words[n:]


if __name__ == "__main__":
    main()
