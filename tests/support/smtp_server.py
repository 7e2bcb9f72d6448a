#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Local SMTP server for the station's tests and benchmarks (Debian's aiosmtpd, run with /usr/bin/python3).

Usage: smtp_server.py --mode MODE --capdir DIR [--certdir DIR] [--delay SECONDS]

Listens on 127.0.0.1 on a free port and prints "PORT <n>" once it accepts connections. Modes:
  plain            AUTH LOGIN/PLAIN offered without TLS, AUTH optional
  auth             like plain, AUTH required
  starttls         STARTTLS offered and required before MAIL, AUTH optional
  smtps            implicit TLS with certdir/server.pem (signed by certdir/ca.pem)
  smtps-wrongname  implicit TLS, certificate of the trusted CA for another host name
  smtps-untrusted  implicit TLS, certificate of a CA nobody trusts
  silent           accepts connections and never says a word
  drop-data        speaks SMTP, then closes the connection in the middle of DATA
  slow             speaks SMTP, each reply delayed by --delay seconds (nothing is captured)
  refuse-sender    speaks SMTP and refuses every sender (MAIL FROM) with 550 (nothing is captured)
User "scada" with password "secret". A recipient whose address contains "reject" gets 550. Each accepted
message is written to capdir/<pid>-<seq>.eml (the DATA bytes as received, dots unstuffed) with a .json sidecar
(envelope, AUTH mechanism, TLS version); the .eml appears only once complete.
"""
import argparse, asyncio, itertools, json, logging, os, signal, ssl, sys, warnings

warnings.simplefilter("ignore")
logging.getLogger("mail.log").setLevel(logging.CRITICAL)

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

SEQ = itertools.count(1)


class RealisticSMTP(SMTP):
    # what Postfix and Exchange send as LOGIN challenges
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == b"scada" and auth_data.password == b"secret"
    session.test_mechanism = mechanism
    return AuthResult(success=ok, handled=False, auth_data=auth_data)


class Handler:
    def __init__(self, capdir):
        self.capdir = capdir

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if "reject" in address:
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        base = os.path.join(self.capdir, "%d-%06d" % (os.getpid(), next(SEQ)))
        sslobj = server.transport.get_extra_info("ssl_object") if server.transport else None
        meta = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "authenticated": bool(session.authenticated),
            "auth_mechanism": getattr(session, "test_mechanism", None),
            "tls_version": sslobj.version() if sslobj else None,
            "helo": session.host_name,
        }
        with open(base + ".json", "w") as f:
            json.dump(meta, f)
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 2.0.0 Message accepted for delivery"


class Scripted(asyncio.Protocol):
    """A minimal SMTP speaker for the fault modes."""

    def __init__(self, mode, delay):
        self.mode, self.delay, self.buf, self.in_data, self.data_bytes = mode, delay, b"", False, 0

    def connection_made(self, transport):
        self.transport = transport
        if self.mode != "silent":
            self.reply(b"220 test ESMTP")

    def reply(self, line):
        if self.delay > 0:
            asyncio.get_event_loop().call_later(self.delay, self._write, line)
        else:
            self._write(line)

    def _write(self, line):
        if not self.transport.is_closing():
            self.transport.write(line + b"\r\n")

    def data_received(self, data):
        if self.mode == "silent":
            return
        self.buf += data
        while True:
            if self.in_data:
                self.data_bytes += len(self.buf)
                if self.mode == "drop-data" and self.data_bytes > 0:
                    self.transport.abort()
                    return
                end = self.buf.find(b"\r\n.\r\n")
                if end < 0 and not self.buf.startswith(b".\r\n"):
                    self.buf = self.buf[-4:]
                    return
                self.buf = b""
                self.in_data = False
                self.reply(b"250 OK")
                return
            i = self.buf.find(b"\r\n")
            if i < 0:
                return
            line, self.buf = self.buf[:i], self.buf[i + 2:]
            cmd = line[:4].upper()
            if cmd in (b"EHLO", b"HELO"):
                self.reply(b"250 test")
            elif cmd == b"MAIL" and self.mode == "refuse-sender":
                self.reply(b"550 5.7.1 Sender address rejected: Access denied")
            elif cmd == b"DATA":
                self.in_data = True
                self.reply(b"354 go ahead")
            elif cmd == b"QUIT":
                self.reply(b"221 bye")
                asyncio.get_event_loop().call_later(self.delay + 0.05, self.transport.close)
            else:
                self.reply(b"250 OK")


def tls_context(certdir, name):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(os.path.join(certdir, name + ".pem"), os.path.join(certdir, name + ".key"))
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    return ctx


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mode", default="plain")
    ap.add_argument("--capdir", default="captured")
    ap.add_argument("--certdir", default="")
    ap.add_argument("--delay", type=float, default=0.0)
    a = ap.parse_args()
    os.makedirs(a.capdir, exist_ok=True)
    loop = asyncio.get_running_loop()
    handler = Handler(a.capdir)
    common = dict(hostname="127.0.0.1", authenticator=authenticator, decode_data=False, ident="test-smtpd",
                  auth_require_tls=False)
    server_ssl = None
    if a.mode in ("silent", "drop-data", "slow", "refuse-sender"):
        factory = lambda: Scripted(a.mode, a.delay)
    elif a.mode == "starttls":
        ctx = tls_context(a.certdir, "server")
        factory = lambda: RealisticSMTP(handler, tls_context=ctx, require_starttls=True, **common)
    elif a.mode.startswith("smtps"):
        name = {"smtps": "server", "smtps-wrongname": "wrongname", "smtps-untrusted": "untrusted"}[a.mode]
        server_ssl = tls_context(a.certdir, name)
        factory = lambda: RealisticSMTP(handler, auth_required=True, **common)
    else:
        factory = lambda: RealisticSMTP(handler, auth_required=(a.mode == "auth"), **common)
    server = await loop.create_server(factory, host="127.0.0.1", port=0, ssl=server_ssl)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    # the parent closing our stdin also ends us, so a crashed test leaves no server behind
    loop.add_reader(sys.stdin.fileno(), lambda: stop.set() if not os.read(sys.stdin.fileno(), 4096) else None)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
