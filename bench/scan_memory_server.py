#!/usr/bin/python3
"""A minimal FTP server on 127.0.0.1 whose every folder lists COUNT generated plain files
("entry0000000.txt", 0 bytes), for the scan's memory figures: a real server would need that many
files on disk. Prints its port, then serves one control connection at a time until killed.

Usage: scan_memory_server.py COUNT"""
import socket
import sys

COUNT = int(sys.argv[1])
LINE = "-rw-r--r--   1 owner group 0 Jan 01  2024 entry%07d.txt\r\n"


def send_listing(data_socket):
    connection, _ = data_socket.accept()
    with connection:
        for start in range(0, COUNT, 10000):
            chunk = "".join(LINE % i for i in range(start, min(start + 10000, COUNT)))
            connection.sendall(chunk.encode())


def serve(control):
    reader = control.makefile("rb")
    reply = lambda text: control.sendall((text + "\r\n").encode())
    reply("220 scan memory bench")
    data_socket = None
    for raw in reader:
        line = raw.decode(errors="replace").rstrip("\r\n")
        verb = line.split(" ", 1)[0].upper()
        if verb == "USER":
            reply("331 Password.")
        elif verb == "PASS":
            reply("230 Logged in.")
        elif verb == "SYST":
            reply("215 UNIX Type: L8")
        elif verb == "PWD":
            reply('257 "/" is the current directory')
        elif verb in ("PASV", "EPSV"):
            data_socket = socket.socket()
            data_socket.bind(("127.0.0.1", 0))
            data_socket.listen(1)
            port = data_socket.getsockname()[1]
            if verb == "EPSV":
                reply("229 Entering Extended Passive Mode (|||%d|)" % port)
            else:
                reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port >> 8, port & 255))
        elif verb in ("LIST", "NLST") and data_socket is not None:
            reply("150 Here it comes.")
            try:
                send_listing(data_socket)
                reply("226 Transfer complete.")
            except OSError:
                reply("426 Connection closed; transfer aborted.")
            data_socket.close()
            data_socket = None
        elif verb == "QUIT":
            reply("221 Bye.")
            return
        elif verb in ("CWD", "TYPE", "OPTS", "NOOP", "MODE", "STRU"):
            reply("250 OK." if verb == "CWD" else "200 OK.")
        else:
            reply("502 Command not implemented.")


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(4)
print(listener.getsockname()[1], flush=True)
while True:
    control, _ = listener.accept()
    with control:
        try:
            serve(control)
        except OSError:
            pass
