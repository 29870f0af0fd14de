#!/usr/bin/env python3
"""Small network helpers that netlab runs inside a lab namespace (through nsguard).

    nstools.py sniff
        Captures every IPv4 packet on every interface of the namespace and prints
        one JSON line per packet: {"event":"packet","t","if","pkttype","src","dst",
        "proto","sport","dport","size","hex"}.  "size" is the UDP payload length,
        "hex" the payload (the first 4096 bytes).  Prints {"event":"ready"} first.

    nstools.py send --bind ADDR:PORT --to ADDR:PORT
        Reads one hex payload per line on stdin and sends each as one datagram
        (broadcast allowed), printing {"event":"sent","size":N} for each.

    nstools.py hold --bind ADDR:PORT
        Binds a UDP socket (no SO_REUSEADDR) and keeps it until stdin closes.

Each line is flushed as it is written.
"""
import argparse
import json
import socket
import struct
import sys
import time

ETH_P_ALL = 0x0003   # all protocols: only these sockets also see outgoing packets
ETH_P_IP = 0x0800
SO_TIMESTAMPNS = 35  # also the control message type (SCM_TIMESTAMPNS)
MAX_HEX = 4096


def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


def addr_port(text):
    host, _, port = text.rpartition(":")
    return host, int(port)


def sniff(_args):
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ALL))
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    # Kernel receive time stamps: the gaps between packets must not depend on
    # how quickly this process gets to read them.
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    emit({"event": "ready"})
    while True:
        data, ancdata, _flags, addr = sock.recvmsg(1 << 17, socket.CMSG_SPACE(16))
        now = time.time()
        for level, kind, value in ancdata:
            if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(value) >= 16:
                sec, nsec = struct.unpack("qq", value[:16])
                now = sec + nsec / 1e9
        ifname, ethertype, pkttype = addr[0], addr[1], addr[2]
        if ethertype != ETH_P_IP or len(data) < 20 or data[0] >> 4 != 4:
            continue
        ihl = (data[0] & 0x0F) * 4
        total = struct.unpack("!H", data[2:4])[0]
        frag = struct.unpack("!H", data[6:8])[0]
        proto = data[9]
        src = socket.inet_ntoa(data[12:16])
        dst = socket.inet_ntoa(data[16:20])
        rec = {"event": "packet", "t": now, "if": ifname, "pkttype": pkttype,
               "src": src, "dst": dst, "proto": proto}
        offset = (frag & 0x1FFF) * 8
        if offset:
            rec["fragment_offset"] = offset
            emit(rec)
            continue
        if frag & 0x2000:
            rec["more_fragments"] = True
        if proto == 17 and len(data) >= ihl + 8:
            sport, dport, ulen = struct.unpack("!HHH", data[ihl:ihl + 6])
            payload = data[ihl + 8:min(total, len(data))]
            rec.update(sport=sport, dport=dport, size=ulen - 8,
                       hex=payload[:MAX_HEX].hex())
        emit(rec)


def send(args):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.bind(addr_port(args.bind))
    dest = addr_port(args.to)
    for line in sys.stdin:
        line = line.strip()
        if line == "-":
            payload = b""
        elif line:
            payload = bytes.fromhex(line)
        else:
            continue
        sock.sendto(payload, dest)
        emit({"event": "sent", "size": len(payload)})
        time.sleep(args.gap / 1000.0)


def hold(args):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(addr_port(args.bind))
    emit({"event": "ready", "bound": "%s:%d" % sock.getsockname()})
    sys.stdin.read()


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="cmd", required=True)
    sub.add_parser("sniff")
    p = sub.add_parser("send")
    p.add_argument("--bind", required=True)
    p.add_argument("--to", required=True)
    p.add_argument("--gap", type=float, default=20.0, help="ms between datagrams")
    p = sub.add_parser("hold")
    p.add_argument("--bind", required=True)
    args = parser.parse_args()
    {"sniff": sniff, "send": send, "hold": hold}[args.cmd](args)


if __name__ == "__main__":
    main()
