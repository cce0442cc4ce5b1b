#!/usr/bin/env python3
"""The servers the alert test sends to, on 127.0.0.1: 'smtp PORT FILE' takes mail (aiosmtpd) and
appends each message to FILE as one JSON line (from, to, subject, body, decoded); 'http PORT FILE'
answers every POST with 200 and appends its body as one line. Prints 'ready' once listening."""
import email
import email.policy
import http.server
import json
import os
import signal
import sys
import threading

mode, port, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]


# The test holds stdin open; once it ends (the test crashed or finished) the server ends too.
threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()


def save(line):
    with open(out, "a", encoding="utf-8") as f:
        f.write(line + "\n")


if mode == "smtp":
    from aiosmtpd.controller import Controller

    class Saver:
        async def handle_DATA(self, server, session, envelope):
            msg = email.message_from_bytes(envelope.content, policy=email.policy.default)
            save(json.dumps({"from": envelope.mail_from, "to": envelope.rcpt_tos,
                             "subject": str(msg["subject"]), "body": msg.get_content()},
                            ensure_ascii=False))
            return "250 OK"

    controller = Controller(Saver(), hostname="127.0.0.1", port=port)
    controller.start()
    print("ready", flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    signal.pause()
else:
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            save(body.decode("utf-8"))
            self.send_response(200)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", port), Handler)
    print("ready", flush=True)
    server.serve_forever()
