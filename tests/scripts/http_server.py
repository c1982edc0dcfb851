"""A loopback HTTP server for the HTTP script tests.

Usage: http_server.py PORT_FILE. Binds 127.0.0.1 on a free port, writes the
port number to PORT_FILE, and serves until GET /quit or 60 s without a request.
"""
import http.server
import os
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def raw(self, head, body=b""):
        self.wfile.write(head.encode() + b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def send(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = self.path
        if path == "/quit":
            self.send(200, b"bye")
            self.server.quitting = True
        elif path.startswith("/echo"):
            lines = [self.command + " " + path]
            lines += [name + ": " + value for name, value in self.headers.items()]
            self.send(200, ("\n".join(lines) + "\n\n").encode("utf-8", "surrogateescape") + body)
        elif path == "/cookies":
            self.send(200, b"two", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2"), ("X-One", "x")])
        elif path == "/redirect":
            self.send(302, b"moved", [("Location", "/echo/after"), ("X-Hop", "first")])
        elif path == "/missing":
            self.send(404, b"not here")
        elif path == "/tight":
            self.raw("HTTP/1.1 200 OK\r\nX-Tight:v\r\nX-Pad: \t padded \t \r\nX-Empty:\r\n", b"ok")
        elif path == "/bytes":
            self.send(200, b"\x00\xff\r\n")
        elif path == "/text":
            self.send(200, "a\r\nb\rété\n".encode())
        elif path == "/bad-utf8":
            self.send(200, b"ab\xff")
        else:
            self.send(500, b"unknown path")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = answer


def main():
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    server.quitting = False
    server.timeout = 60
    tmp = sys.argv[1] + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(tmp, sys.argv[1])
    while not server.quitting:
        server.handle_request()
        if server.quitting:
            break


if __name__ == "__main__":
    main()
