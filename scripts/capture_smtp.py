#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Mail capture server for the demo (Debian's aiosmtpd; run with /usr/bin/python3).

Usage: capture_smtp.py --capdir DIR [--port N]

Listens on 127.0.0.1 (port 0 = a free port), prints "PORT <n>" once it accepts connections, then one line per
mail received: the time, the envelope, the decoded subject, the attachments and the .eml file it was written to.
Every mail is kept as DIR/<n>-<time>.eml, exactly the bytes the station sent. No login is asked for and nothing
is relayed anywhere.
"""
import argparse, asyncio, datetime, email, email.policy, itertools, os, signal, socket, sys

from aiosmtpd.smtp import SMTP

SEQ = itertools.count(1)


class CaptureHandler:
    def __init__(self, capdir):
        self.capdir = capdir

    async def handle_DATA(self, server, session, envelope):
        n = next(SEQ)
        stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
        path = os.path.join(self.capdir, f"{n:04d}-{stamp}.eml")
        data = envelope.original_content or envelope.content
        tmp = path + ".part"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)  # a reader never sees half a mail
        try:
            msg = email.message_from_bytes(data, policy=email.policy.default)
            subject = str(msg.get("Subject", ""))
            attachments = [part.get_filename() or "?" for part in msg.iter_attachments()]
        except Exception as e:  # a mail the parser cannot read is still kept
            subject, attachments = f"(unreadable: {e})", []
        line = f"[{datetime.datetime.now():%H:%M:%S}] mail {n}: {envelope.mail_from} -> {', '.join(envelope.rcpt_tos)}"
        line += f" | {subject}"
        if attachments:
            line += f" | attachments: {', '.join(attachments)}"
        print(line + f" | {path}", flush=True)
        return "250 OK"


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--capdir", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    os.makedirs(args.capdir, exist_ok=True)

    handler = CaptureHandler(args.capdir)
    loop = asyncio.get_running_loop()
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", args.port))
    server = await loop.create_server(lambda: SMTP(handler, enable_SMTPUTF8=True, decode_data=False), sock=sock)
    print(f"PORT {sock.getsockname()[1]}", flush=True)

    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    server.close()
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(main())
