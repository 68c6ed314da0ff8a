#!/usr/bin/env python3
"""A real HTTP (or HTTPS) file server for the net tests, built on http.server.

Serves DIR on a free loopback port and prints the port on its first output line.
  /redirect/N/PATH  answers 302 with Location /redirect/N-1/PATH, and /redirect/0/PATH with /PATH
  /to?ADDRESS       answers 302 with Location ADDRESS
Everything else is http.server's own file serving (404 for a missing file).
"""
import argparse
import functools
import http.server
import ssl
import sys
import urllib.parse


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        parts = self.path.split('/', 3)
        if len(parts) == 4 and parts[1] == 'redirect' and parts[2].isdigit():
            hops = int(parts[2])
            rest = parts[3]
            self.redirect(f'/redirect/{hops - 1}/{rest}' if hops > 0 else f'/{rest}')
        elif self.path.startswith('/to?'):
            self.redirect(urllib.parse.unquote(self.path[4:]))
        else:
            super().do_GET()

    def redirect(self, location):
        self.send_response(302)
        self.send_header('Location', location)
        self.send_header('Content-Length', '0')
        self.end_headers()

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('directory')
    parser.add_argument('--cert')
    parser.add_argument('--key')
    options = parser.parse_args()
    handler = functools.partial(Handler, directory=options.directory)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
    if options.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == '__main__':
    sys.exit(main())
