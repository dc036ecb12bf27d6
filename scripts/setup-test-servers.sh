#!/bin/bash
# System set-up for the FTP test servers (run as root, or through sudo); safe to
# run again. What it leaves on the machine:
#
# - the system account "velmarftp": no password (locked), no shell, expired, home
#   "/". Nobody logs in as it; the test vsftpd runs its sessions as it.
# - /etc/velmar-test-ftp/ (root only): "password", a random password made on the
#   first run, and "users.db", the one FTP user "velmar" with that password.
# - /etc/pam.d/velmar-ftp-virtual: a PAM service that checks logins against
#   users.db and nothing else, so no system account logs in through it.
#
# The test vsftpd takes its logins as virtual users through that service
# (guest_enable), so the only login it accepts is "velmar" with a password that
# only root can read. Earlier versions of this script gave "velmarftp" a password
# published in the repository and a PAM service "velmar-test-ftp" that checked
# system passwords; both are undone here.
#
# --keep-old-login: leave that old password and service alone for now (for a
# machine where tests from before this change still run). The next run without
# it removes them.
set -euo pipefail

GUEST_ACCOUNT=velmarftp
VIRTUAL_USER=velmar
PAM_SERVICE=velmar-ftp-virtual
OLD_PAM_SERVICE=velmar-test-ftp
SECRETS=/etc/velmar-test-ftp

keep_old=0
if [ "${1:-}" = "--keep-old-login" ]; then
  keep_old=1
fi

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The account the sessions run as.
if ! getent passwd "$GUEST_ACCOUNT" >/dev/null; then
  as_root useradd --system --no-create-home --home-dir / \
    --shell /usr/sbin/nologin "$GUEST_ACCOUNT"
fi
as_root usermod --home / --shell /usr/sbin/nologin "$GUEST_ACCOUNT"
if [ "$keep_old" -eq 0 ]; then
  # "!" matches no password at all; the expiry date also stops key-based logins.
  as_root usermod --password '!' --expiredate 1 "$GUEST_ACCOUNT"
  as_root rm -f "/etc/pam.d/$OLD_PAM_SERVICE"
fi

# The virtual user's password: made once per machine, readable by root alone.
as_root install -d -m 0700 -o root -g root "$SECRETS"
if ! as_root test -s "$SECRETS/password"; then
  password="$(head -c 24 /dev/urandom | base64 | tr -d '/+=')"
  printf '%s\n' "$password" | as_root install -m 0600 -o root -g root /dev/stdin "$SECRETS/password"
fi
password="$(as_root head -n 1 "$SECRETS/password")"

# pam_userdb reads a Berkeley DB hash: key and value on alternate lines.
# Written beside the old one and renamed over it, so a running test never sees
# half a database.
printf '%s\n%s\n' "$VIRTUAL_USER" "$password" |
  as_root db_load -T -t hash "$SECRETS/users.db.new"
as_root chmod 0600 "$SECRETS/users.db.new"
as_root mv -f "$SECRETS/users.db.new" "$SECRETS/users.db"

printf '%s\n' \
  '# Logins of the Velmar98 test FTP server (scripts/setup-test-servers.sh):' \
  "# the users of $SECRETS/users.db only, never a system account." \
  "auth     required pam_userdb.so db=$SECRETS/users crypt=none" \
  "account  required pam_userdb.so db=$SECRETS/users crypt=none" \
  'session  required pam_permit.so' |
  as_root tee "/etc/pam.d/$PAM_SERVICE.new" >/dev/null
as_root mv -f "/etc/pam.d/$PAM_SERVICE.new" "/etc/pam.d/$PAM_SERVICE"
