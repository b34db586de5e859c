"""Sends one message COUNT times through Python's smtplib, one connection per
mail, and prints the seconds that took (interpreter start-up excluded).

usage: /usr/bin/python3 smtp_peer.py PORT COUNT MESSAGE-FILE
"""
import smtplib
import sys
import time

port, count, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
with open(path, "rb") as f:
    message = f.read()
start = time.perf_counter()
for _ in range(count):
    with smtplib.SMTP("127.0.0.1", port) as smtp:
        smtp.sendmail("sender@example.org", ["rcpt@example.org"], message)
print("%.6f" % (time.perf_counter() - start))
