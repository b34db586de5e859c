#!/bin/sh
# A private Postfix on loopback for the mail tests (needs root):
#
#   postfix_instance.sh start DIRECTORY CERTIFICATES PASSWORD
#       sets an instance up in the empty DIRECTORY and starts it; prints
#       "PORTS <plain> <submission> <smtps>" once all three listen
#   postfix_instance.sh stop DIRECTORY
#       stops it and waits until its master has ended
#
# Listeners: plain SMTP for local recipients; submission with STARTTLS
# required and SASL login over TLS only; the same with TLS from the first
# byte. HELO names must be fully-qualified or address literals
# (reject_non_fqdn_helo_hostname). Nothing leaves the machine: every
# transport but the virtual mailboxes of test.example is an error. Mail
# to to@test.example lands in DIRECTORY/mail/to/new/; the SASL user is
# morvane@test.example with PASSWORD; DIRECTORY/maillog logs every command
# (debug_peer_list).
set -eu
action=$1
dir=$2
case "$action" in
stop)
  pid=$(cat "$dir/queue/pid/master.pid" 2>/dev/null | tr -d ' ' || true)
  postfix -c "$dir/etc" stop >/dev/null 2>&1 || true
  if [ -n "$pid" ]; then
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  fi
  exit 0
  ;;
start) ;;
*) echo "usage: $0 start DIRECTORY CERTIFICATES PASSWORD | stop DIRECTORY" >&2; exit 2 ;;
esac
certificates=$3
password=$4

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
plain=$(free_port)
submission=$(free_port)
smtps=$(free_port)

# Postfix and nobody walk into every folder on the way.
chmod 755 "$dir"
mkdir -p "$dir/etc/sasl" "$dir/queue" "$dir/data" "$dir/mail"
chown postfix "$dir/data"
chown nobody:nogroup "$dir/mail"
cp "$certificates/server.pem" "$certificates/server.key" "$dir/etc/"
chmod 600 "$dir/etc/server.key"

# Debian's Postfix reads the SASL settings from the instance's own etc/sasl.
cat >"$dir/etc/sasl/smtpd.conf" <<EOF
pwcheck_method: auxprop
auxprop_plugin: sasldb
mech_list: PLAIN LOGIN
sasldb_path: $dir/etc/sasl/sasldb2
EOF
printf '%s' "$password" | saslpasswd2 -c -p -f "$dir/etc/sasl/sasldb2" -u test.example morvane
chgrp postfix "$dir/etc/sasl/sasldb2"
chmod 640 "$dir/etc/sasl/sasldb2"

cat >"$dir/etc/main.cf" <<EOF
compatibility_level = 3.6
config_directory = $dir/etc
queue_directory = $dir/queue
data_directory = $dir/data
meta_directory = /etc/postfix
maillog_file = $dir/maillog
maillog_file_prefixes = $dir
myhostname = mta.test.example
mydomain = test.example
mydestination =
inet_interfaces = loopback-only
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtputf8_enable = no
biff = no
default_transport = error:no mail leaves the test machine
relay_transport = error:no mail leaves the test machine
local_transport = error:no local delivery in tests
virtual_mailbox_domains = test.example
virtual_mailbox_base = $dir/mail
virtual_mailbox_maps = inline:{ to@test.example=to/ }
virtual_uid_maps = static:$(id -u nobody)
virtual_gid_maps = static:$(id -g nobody)
virtual_minimum_uid = 1
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_non_fqdn_helo_hostname
smtpd_forbid_unauth_pipelining = yes
smtpd_forbid_bare_newline = yes
smtpd_tls_cert_file = $dir/etc/server.pem
smtpd_tls_key_file = $dir/etc/server.key
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
smtpd_sasl_auth_enable = no
debug_peer_list = 127.0.0.1
EOF

login='-o smtpd_sasl_auth_enable=yes -o smtpd_tls_auth_only=yes -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject'
cat >"$dir/etc/master.cf" <<EOF
127.0.0.1:$plain inet n - n - - smtpd
127.0.0.1:$submission inet n - n - - smtpd -o smtpd_tls_security_level=encrypt $login
127.0.0.1:$smtps inet n - n - - smtpd -o smtpd_tls_wrappermode=yes $login
pickup    unix  n - n 60 1 pickup
cleanup   unix  n - n -  0 cleanup
qmgr      unix  n - n 300 1 qmgr
tlsmgr    unix  - - n 1000? 1 tlsmgr
rewrite   unix  - - n -  - trivial-rewrite
bounce    unix  - - n -  0 bounce
defer     unix  - - n -  0 bounce
trace     unix  - - n -  0 bounce
verify    unix  - - n -  1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n -  - proxymap
showq     unix  n - n -  - showq
error     unix  - - n -  - error
virtual   unix  - n n -  - virtual
anvil     unix  - - n -  1 anvil
scache    unix  - - n -  1 scache
postlog   unix-dgram n - n - 1 postlogd
EOF

postfix -c "$dir/etc" check
postfix -c "$dir/etc" start >/dev/null 2>&1
for port in $plain $submission $smtps; do
  i=0
  until /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -ge 100 ]; then echo "postfix did not listen on $port" >&2; exit 1; fi
    sleep 0.1
  done
done
echo "PORTS $plain $submission $smtps"
