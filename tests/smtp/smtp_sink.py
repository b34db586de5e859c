"""A recording SMTP server for the tests, on a free loopback port.

usage: /usr/bin/python3 smtp_sink.py DIRECTORY [OPTION]...
       /usr/bin/python3 smtp_sink.py --discard [OPTION]...   (accepts and forgets, for benchmarks)

  --cert FILE --key FILE   the server's certificate chain and key (PEM)
  --starttls               offer STARTTLS and refuse mail before it
  --smtps                  TLS from the first byte
  --login USER:PASSWORD    offer AUTH PLAIN and LOGIN (over TLS only) and
                           refuse mail without it
  --no-plain               offer AUTH LOGIN only
  --echo-auth              refuse every AUTH with a reply that repeats it
  --inject LINE            send LINE right behind "220 Ready to start TLS",
                           in the same write, as an attacker on the way would

Prints "PORT <n>" on standard output once it listens. Every accepted message
becomes DIRECTORY/<n>.env (the envelope: "MAIL FROM:<addr>" and one
"RCPT TO:<addr>" per recipient), DIRECTORY/<n>.session ("tls=<0|1>
login=<user>") and DIRECTORY/<n>.eml (the message bytes as received after
the un-stuffing of leading full stops), written .eml first. Every AUTH the
server receives appends "<mechanism> <user>" to DIRECTORY/auth.log. Runs
until terminated.
"""
import argparse
import asyncio
import os
import signal
import ssl

from aiosmtpd.smtp import SMTP, AuthResult


class Recorder:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    def write(self, name, data):
        path = os.path.join(self.directory, name)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.rename(path + ".tmp", path)

    async def handle_DATA(self, server, session, envelope):
        if self.directory is None:
            return "250 Message accepted for delivery"
        self.count += 1
        n = str(self.count)
        self.write(n + ".eml", envelope.original_content)
        self.write(n + ".session", ("tls=%d login=%s" % (
            session.ssl is not None, (session.auth_data or b"").decode())).encode())
        sender = envelope.mail_from
        lines = ["MAIL FROM:%s" % (sender if sender == "<>" else "<%s>" % sender)]
        lines += ["RCPT TO:<%s>" % rcpt for rcpt in envelope.rcpt_tos]
        self.write(n + ".env", ("\n".join(lines) + "\n").encode())
        return "250 Message accepted for delivery"


def authenticator(recorder, login):
    user, password = login.split(":", 1)

    def check(server, session, envelope, mechanism, data):
        if recorder.directory is not None:
            with open(os.path.join(recorder.directory, "auth.log"), "a") as f:
                f.write("%s %s\n" % (mechanism, data.login.decode(errors="replace")))
        ok = data.login.decode() == user and data.password.decode() == password
        return AuthResult(success=ok, handled=False, auth_data=data.login)
    return check


class TestSMTP(SMTP):
    """aiosmtpd with the tests' twists: a session over TLS from the first
    byte counts as encrypted (for AUTH), a line can be put behind the reply
    to STARTTLS in the same write, and logins can be refused by repeating
    them."""
    inject = None
    echo_auth = False

    def connection_made(self, transport):
        super().connection_made(transport)
        if self._tls_protocol is None and transport.get_extra_info("sslcontext") is not None:
            # aiosmtpd knows TLS only as the result of STARTTLS.
            self._tls_protocol = transport
            self.session.ssl = {"implicit": True}

    async def push(self, status):
        if self.inject and isinstance(status, str) and status.startswith("220 Ready to start TLS"):
            status = status + "\r\n" + self.inject
        await super().push(status)

    async def smtp_AUTH(self, arg):
        if self.echo_auth:
            await self.push("535 5.7.8 Refused: " + arg)
        else:
            await super().smtp_AUTH(arg)


async def main(args):
    loop = asyncio.get_running_loop()
    recorder = Recorder(None if args.discard else args.directory)
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    TestSMTP.inject = args.inject
    TestSMTP.echo_auth = args.echo_auth
    options = dict(hostname="sink.test", ident="Morvane test sink")
    if args.starttls:
        options.update(tls_context=context, require_starttls=True)
    if args.login:
        options.update(authenticator=authenticator(recorder, args.login), auth_required=True,
                       auth_require_tls=True, auth_exclude_mechanism=["PLAIN"] if args.no_plain else [])
    server = await loop.create_server(lambda: TestSMTP(recorder, **options), "127.0.0.1", 0,
                                      ssl=context if args.smtps else None)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, stop.set_result, None)
    await stop
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("directory", nargs="?")
    parser.add_argument("--discard", action="store_true")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--smtps", action="store_true")
    parser.add_argument("--login")
    parser.add_argument("--no-plain", action="store_true")
    parser.add_argument("--echo-auth", action="store_true")
    parser.add_argument("--inject")
    asyncio.run(main(parser.parse_args()))
