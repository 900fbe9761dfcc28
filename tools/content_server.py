#!/usr/bin/env python3
"""A static content server for the demo: serves one folder on 127.0.0.1 with
ETag, single byte ranges (206) and If-Range, and prints one line per request.

    tools/content_server.py ROOT PORTFILE [LOGFILE]

It picks a free port and writes it to PORTFILE once it is listening. With
ZV_CONTENT_RATE set (bytes per second), every response body is paced to that
rate, so a download on the loopback lasts long enough to be watched.
"""
import hashlib
import http.server
import os
import re
import sys
import threading
import time

RANGE = re.compile(r"bytes=(\d*)-(\d*)$")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    log = None
    rate = int(os.environ.get("ZV_CONTENT_RATE", "0"))

    def log_message(self, fmt, *args):
        if self.log:
            self.log.write("%s\n" % (fmt % args))
            self.log.flush()

    def do_HEAD(self):
        self.serve(head=True)

    def do_GET(self):
        self.serve(head=False)

    def serve(self, head):
        path = os.path.normpath(self.path.split("?", 1)[0].lstrip("/"))
        full = os.path.join(self.root, path)
        if path.startswith("..") or not os.path.isfile(full):
            self.send_error(404)
            return
        size = os.path.getsize(full)
        stat = os.stat(full)
        etag = '"%s"' % hashlib.md5(("%s:%d:%d" % (path, size, stat.st_mtime_ns)).encode()).hexdigest()
        start, end = 0, size - 1
        partial = False
        wanted = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        if wanted and (if_range is None or if_range == etag):
            match = RANGE.match(wanted.strip())
            if match and (match.group(1) or match.group(2)):
                if match.group(1):
                    start = int(match.group(1))
                    end = int(match.group(2)) if match.group(2) else size - 1
                else:
                    start = max(0, size - int(match.group(2)))
                end = min(end, size - 1)
                if start > end:
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % size)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                partial = True
        self.send_response(206 if partial else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("ETag", etag)
        self.send_header("Content-Length", str(end - start + 1))
        if partial:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.end_headers()
        if head:
            return
        with open(full, "rb") as f:
            f.seek(start)
            left = end - start + 1
            while left > 0:
                chunk = f.read(min(16384 if self.rate else 65536, left))
                if not chunk:
                    break
                self.wfile.write(chunk)
                left -= len(chunk)
                if self.rate > 0:
                    time.sleep(len(chunk) / self.rate)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    Handler.root = sys.argv[1]
    Handler.log = open(sys.argv[3], "a") if len(sys.argv) == 4 else None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(sys.argv[2] + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(sys.argv[2] + ".tmp", sys.argv[2])
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
