"""A TCP relay that counts what a server sends to its clients.

  count_relay.py --port-file F --target PORT --count-file C

Listens on a free port of 127.0.0.1 (written to F), forwards every connection
to 127.0.0.1:PORT and, each time a connection ends, rewrites C with the total
bytes sent from the server to clients so far (headers and bodies alike).
"""
import argparse
import os
import socket
import threading

lock = threading.Lock()
total = 0


def pump(src, dst, counting, args):
    global total
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
            if counting:
                with lock:
                    total += len(data)
    except OSError:
        pass
    finally:
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        if counting:
            with lock:
                tmp = args.count_file + ".tmp"
                with open(tmp, "w") as f:
                    f.write("%d\n" % total)
                os.replace(tmp, args.count_file)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--count-file", required=True)
    args = parser.parse_args()
    with open(args.count_file, "w") as f:
        f.write("0\n")
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.replace(tmp, args.port_file)
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", args.target))
        threading.Thread(target=pump, args=(client, server, False, args), daemon=True).start()
        threading.Thread(target=pump, args=(server, client, True, args), daemon=True).start()


if __name__ == "__main__":
    main()
