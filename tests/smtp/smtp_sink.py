"""A recording SMTP server for the tests, on a free loopback port.

usage: /usr/bin/python3 smtp_sink.py DIRECTORY
       /usr/bin/python3 smtp_sink.py --discard   (accepts and forgets, for benchmarks)

Prints "PORT <n>" on standard output once it listens. Every accepted message
becomes DIRECTORY/<n>.env (the envelope: "MAIL FROM:<addr>" and one
"RCPT TO:<addr>" per recipient) and DIRECTORY/<n>.eml (the message bytes as
received after the un-stuffing of leading full stops), written .eml first.
Runs until terminated.
"""
import asyncio
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


class Recorder:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        if self.directory is None:
            return "250 Message accepted for delivery"
        self.count += 1
        base = os.path.join(self.directory, str(self.count))
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".env.tmp", "w") as f:
            sender = envelope.mail_from
            f.write("MAIL FROM:%s\n" % (sender if sender == "<>" else "<%s>" % sender))
            for rcpt in envelope.rcpt_tos:
                f.write("RCPT TO:<%s>\n" % rcpt)
        os.rename(base + ".eml.tmp", base + ".eml")
        os.rename(base + ".env.tmp", base + ".env")
        return "250 Message accepted for delivery"


async def main(directory):
    loop = asyncio.get_running_loop()
    recorder = Recorder(directory)
    server = await loop.create_server(
        lambda: SMTP(recorder, hostname="sink.test", ident="Morvane test sink"),
        "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, stop.set_result, None)
    await stop
    server.close()


if __name__ == "__main__":
    asyncio.run(main(None if sys.argv[1] == "--discard" else sys.argv[1]))
