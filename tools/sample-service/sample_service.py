#!/usr/bin/env python3
"""A sample product service for the online installer.

Serves what the installer asks for: the banner picture, the customer-service notice, the
version list, the download address lookup and the ZIP archives of the product's versions.
Its content comes from a folder holding service.json (see the README); the archives
of versions given as folders are built when the service starts.

Binds to 127.0.0.1 only. The first line on stdout is the service's address, e.g.
http://127.0.0.1:8080/ (with --port 0 a free port is chosen).
"""

import argparse
import json
import mimetypes
import os
import sys
import tempfile
import threading
import time
import zipfile
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))


class Content:
    """The service's content: the settings of service.json and the files they name."""

    def __init__(self, folder, archive_folder):
        self.folder = os.path.abspath(folder)
        with open(os.path.join(self.folder, "service.json"), encoding="utf-8") as f:
            config = json.load(f)
        self.package_id = config["package_id"]
        self.launcher = config.get("launcher", "setup.exe")
        self.banner = self._optional_file(config.get("banner"))
        self.notice = self._optional_file(config.get("notice"))
        self.ad_page = self._optional_file(config.get("ad_page"))
        self.versions = config.get("versions", [])
        self.archives = {}  # name in the address -> path on disk
        for version in self.versions:
            if "folder" in version or "zip" in version:
                name = version.get("archive", "%s-%s.zip" % (self.package_id, version["id"]))
                version["archive"] = name
                if "zip" in version:
                    self.archives[name] = self._path(version["zip"])
                else:
                    self.archives[name] = build_archive(
                        self._path(version["folder"]), os.path.join(archive_folder, name))

    def _path(self, name):
        return os.path.join(self.folder, os.path.expanduser(name))

    def _optional_file(self, name):
        return self._path(name) if name else None


def build_archive(folder, archive_path):
    """Zips a folder, keeping the files' permission bits (so the setup program stays
    executable) and storing names relative to the folder."""
    with zipfile.ZipFile(archive_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(root, name)
                archive.write(path, os.path.relpath(path, folder))
    return archive_path


class Handler(BaseHTTPRequestHandler):
    server_version = "SampleProductService/1.0"
    protocol_version = "HTTP/1.1"
    content = None  # set by main
    base = None
    quiet = False
    throttle = 0  # archive bytes per second; 0: as fast as possible
    cuts_left = 0  # archive downloads still to be cut off halfway, as a bad network would
    cuts_lock = threading.Lock()
    require_proxy = False  # refuse requests that did not come through a proxy (no "Via")

    def do_GET(self):
        if self.require_proxy and "Via" not in self.headers:
            self.send_error(403, "Direct connections are refused: use the proxy")
            return
        address = urlsplit(self.path)
        route = {
            "/banner": self.send_banner,
            "/notice": self.send_notice,
            "/ad": self.send_ad_page,
            "/versions": self.send_versions,
        }.get(address.path)
        if route:
            route(parse_qs(address.query, keep_blank_values=True))
        elif address.path.startswith("/files/"):
            self.send_archive(address.path[len("/files/"):])
        else:
            self.send_error(404)

    def send_banner(self, _query):
        self.send_file(self.content.banner)

    def send_notice(self, _query):
        self.send_file(self.content.notice, "text/plain; charset=utf-8")

    def send_ad_page(self, _query):
        self.send_file(self.content.ad_page, "text/html; charset=utf-8")

    def send_versions(self, query):
        def value(name):
            return query.get(name, [""])[0]

        act = value("act")
        if value("pid") != self.content.package_id:
            reply = ""  # unknown product: no versions
        elif act == "list":
            reply = "|".join("%s`%s" % (v["id"], v["title"]) for v in self.content.versions)
        elif act == "down":
            reply = self.lookup(value("vid"))
        else:
            reply = "error: unknown request"
        self.send_bytes(reply.encode("gbk"), "text/plain; charset=gbk")

    def lookup(self, version_id):
        for version in self.content.versions:
            if version["id"] != version_id:
                continue
            if "error" in version:
                return version["error"]
            if "address" in version:
                return version["address"]
            return self.base + "files/" + version["archive"]
        return "error: 没有这个版本"

    def send_archive(self, name):
        path = self.content.archives.get(name)
        if path is None:
            self.send_error(404)
            return
        with open(path, "rb") as f:
            status = os.fstat(f.fileno())
            size = status.st_size
            etag = '"%x-%x"' % (status.st_mtime_ns, size)
            start = self.range_start(etag, size)
            self.send_response(206 if start else 200)
            self.send_header("Content-Type", "application/zip")
            self.send_header("Accept-Ranges", "bytes")
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", formatdate(status.st_mtime, usegmt=True))
            self.send_header("Content-Length", str(size - start))
            if start:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
            self.end_headers()
            f.seek(start)
            with Handler.cuts_lock:
                cut = Handler.cuts_left > 0
                Handler.cuts_left -= cut
            self.send_body(f, (size - start) // 2 if cut else size - start)
            if cut:
                self.close_connection = True
                self.connection.shutdown(2)

    def range_start(self, etag, size):
        """Where a "Range: bytes=N-" request may resume (RFC 9110), or 0 for the whole file."""
        wanted = self.headers.get("Range", "")
        if not wanted.startswith("bytes=") or not wanted.endswith("-"):
            return 0
        if self.headers.get("If-Range", etag) != etag:
            return 0
        try:
            start = int(wanted[len("bytes="):-1])
        except ValueError:
            return 0
        return start if 0 < start < size else 0

    def send_body(self, f, count):
        try:
            while count > 0:
                piece = f.read(min(count, 16384))
                if not piece:
                    break
                self.wfile.write(piece)
                count -= len(piece)
                if self.throttle:
                    time.sleep(len(piece) / self.throttle)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True  # the client went away

    def send_file(self, path, content_type=None):
        if not path or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Type", content_type or mimetypes.guess_type(path)[0]
                             or "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            try:
                self.connection.sendfile(f)
            except (BrokenPipeError, ConnectionResetError):
                pass  # the client went away

    def send_bytes(self, body, content_type):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        if not self.quiet:
            sys.stderr.write("sample-service: %s\n" % (format % args))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=8080, help="port to listen on (0: any free port)")
    parser.add_argument("--content", default=os.path.join(HERE, "content"),
                        help="folder holding service.json (default: the sample product)")
    parser.add_argument("--quiet", action="store_true", help="do not log requests")
    parser.add_argument("--throttle", type=int, default=0, metavar="KB",
                        help="send archives at this many kilobytes a second")
    parser.add_argument("--cut-downloads", type=int, default=0, metavar="N",
                        help="cut off the first N archive downloads halfway through")
    parser.add_argument("--require-proxy", action="store_true",
                        help="refuse every request that did not come through a proxy (no Via header)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="sample-service-") as archive_folder:
        Handler.content = Content(args.content, archive_folder)
        Handler.quiet = args.quiet
        Handler.throttle = args.throttle * 1000
        Handler.cuts_left = args.cut_downloads
        Handler.require_proxy = args.require_proxy
        server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
        server.daemon_threads = True
        Handler.base = "http://127.0.0.1:%d/" % server.server_address[1]
        print(Handler.base, flush=True)
        content = Handler.content
        print("package id:    %s" % content.package_id)
        print("setup program: %s" % content.launcher)
        print("banner:        %sbanner" % Handler.base)
        print("ad page:       %sad" % Handler.base)
        print("notice:        %snotice" % Handler.base)
        print("version list:  %sversions" % Handler.base, flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
        finally:
            server.server_close()


if __name__ == "__main__":
    main()
