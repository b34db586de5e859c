#!/bin/sh
# Makes the certificates of the TLS tests in DIRECTORY (EC P-256, valid for
# two days):
#   ca.pem                the test's CA, the one the client trusts
#   server.pem/.key       for 127.0.0.1 and localhost, by that CA
#   wrong-name.pem/.key   for mail.wrong.example only, by that CA
#   stranger.pem/.key     for 127.0.0.1 and localhost, by another CA
# usage: make_test_certificates.sh DIRECTORY
set -eu
cd "$1"
authority() {  # name subject
  openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=$2" -keyout "$1.key" -out "$1.pem" 2>/dev/null
}
certificate() {  # name authority subjectAltName
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$1" \
    -keyout "$1.key" -out "$1.csr" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  chmod 600 "$1.key"
}
authority ca "Morvane Test CA"
authority other-ca "Another Test CA"
certificate server ca "IP:127.0.0.1,DNS:localhost"
certificate wrong-name ca "DNS:mail.wrong.example"
certificate stranger other-ca "IP:127.0.0.1,DNS:localhost"
