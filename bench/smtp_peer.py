"""Sends one message COUNT times through Python's smtplib, one connection per
mail, and prints the seconds that took (interpreter start-up excluded).

usage: /usr/bin/python3 smtp_peer.py PORT COUNT MESSAGE-FILE [--starttls CA-FILE] [--login USER:PASSWORD]

With --starttls every mail goes EHLO, STARTTLS (the server's certificate
checked against CA-FILE), EHLO, and with --login AUTH, as a script that
sends through a provider would. The TLS context is made once.
"""
import argparse
import smtplib
import ssl
import time

parser = argparse.ArgumentParser()
parser.add_argument("port", type=int)
parser.add_argument("count", type=int)
parser.add_argument("message")
parser.add_argument("--starttls")
parser.add_argument("--login")
args = parser.parse_args()
with open(args.message, "rb") as f:
    message = f.read()
context = ssl.create_default_context(cafile=args.starttls) if args.starttls else None
start = time.perf_counter()
for _ in range(args.count):
    with smtplib.SMTP("127.0.0.1", args.port) as smtp:
        if context:
            smtp.starttls(context=context)
        if args.login:
            smtp.login(*args.login.split(":", 1))
        smtp.sendmail("sender@example.org", ["rcpt@example.org"], message)
print("%.6f" % (time.perf_counter() - start))
