#!/bin/bash
# The ISP's mail server: a Postfix instance of its own (configuration,
# queue, log and mailboxes under DIR, nothing of the host's mail setup
# touched), listening on ADDR port 25 of the ISP host's network. It accepts
# mail for the domain isp.sim only from clients that logged in with AUTH
# LOGIN (Cyrus SASL, accounts in DIR/sasldb2; no TLS, like the router's
# client), refuses bare newlines and unauthenticated pipelining, and delivers
# into mbox files DIR/mail/<user>. Its log is DIR/maillog.
#
#   isp-mail.sh setup DIR ADDR USER PASSWORD   writes the instance
#   isp-mail.sh run DIR                        runs it in the foreground
#   isp-mail.sh stop DIR / start DIR           stops it, starts it again
#                                              (in the background)
set -u
cmd=$1 dir=$2
etc=$dir/etc

case $cmd in
setup)
  addr=$3 user=$4 password=$5
  owner=postfix
  uid=$(id -u $owner) gid=$(id -g $owner) || exit 1
  mkdir -p "$etc/sasl" "$dir/spool" "$dir/data" "$dir/mail"
  # The daemons run as postfix: they must reach DIR through its parents.
  p=$dir
  while [ "$p" != / ] && [ "$p" != /tmp ]; do
    chmod o+x "$p"
    p=$(dirname "$p")
  done
  chown "$owner" "$dir/data" "$dir/mail"
  cat >"$etc/main.cf" <<CF
compatibility_level = 3.6
queue_directory = $dir/spool
data_directory = $dir/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
shlib_directory = /usr/lib/postfix
meta_directory = /etc/postfix
mail_owner = $owner
setgid_group = postdrop
maillog_file_prefixes = $dir
maillog_file = $dir/maillog
myhostname = isp.sim
mydomain = isp.sim
myorigin = isp.sim
mydestination =
local_recipient_maps =
alias_maps =
alias_database =
inet_interfaces = $addr
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
biff = no
virtual_mailbox_domains = isp.sim
virtual_mailbox_base = $dir/mail
virtual_mailbox_maps = texthash:$etc/vmailbox
virtual_uid_maps = static:$uid
virtual_gid_maps = static:$gid
smtpd_tls_security_level = none
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
smtpd_sasl_local_domain = isp.sim
cyrus_sasl_config_path = $etc/sasl
smtpd_sasl_security_options = noanonymous
smtpd_relay_restrictions = permit_sasl_authenticated, reject
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
smtpd_helo_required = yes
strict_rfc821_envelopes = yes
smtpd_forbid_bare_newline = reject
smtpd_forbid_bare_newline_exclusions =
smtpd_forbid_unauth_pipelining = yes
smtpd_data_restrictions = reject_unauth_pipelining
CF
  cat >"$etc/master.cf" <<'CF'
smtp      inet  n       -       n       -       -       smtpd
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
virtual   unix  -       n       n       -       -       virtual
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
CF
  printf '%s\n' "pwcheck_method: auxprop" "auxprop_plugin: sasldb" "sasldb_path: $dir/sasldb2" \
    "mech_list: PLAIN LOGIN" >"$etc/sasl/smtpd.conf"
  printf '%s@isp.sim %s\n' "$user" "$user" admin admin >"$etc/vmailbox"
  printf '%s' "$password" | saslpasswd2 -f "$dir/sasldb2" -p -c -u isp.sim "$user" || exit 1
  chown "$owner" "$dir/sasldb2"
  ;;
run)
  exec postfix -c "$etc" start-fg
  ;;
start)
  postfix -c "$etc" start
  ;;
stop)
  postfix -c "$etc" stop
  ;;
*)
  echo "usage: $0 setup|run|start|stop DIR ..." >&2
  exit 2
  ;;
esac
