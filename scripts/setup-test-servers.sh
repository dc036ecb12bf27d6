#!/bin/bash
# One-off system set-up for the FTP test servers (run as root, or through sudo).
#
# vsftpd refuses anonymous sessions whose root is writable, so the tests log in to
# it as a local user instead: "velmarftp", without a login shell, with "/" as its
# home (vsftpd enters the home before the test's root; it owns no folder),
# authenticated by pam_unix through a PAM service of its own (Debian's "vsftpd"
# service also demands a login shell). The test fixture writes vsftpd's
# configuration itself; this script only provides the account and the service.
set -euo pipefail

VELMAR_FTP_USER=velmarftp
VELMAR_FTP_PASSWORD=velmar-test-pw
VELMAR_PAM_SERVICE=velmar-test-ftp

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if ! getent passwd "$VELMAR_FTP_USER" >/dev/null; then
  as_root useradd --system --no-create-home --home-dir / \
    --shell /usr/sbin/nologin "$VELMAR_FTP_USER"
else
  as_root usermod --home / "$VELMAR_FTP_USER"
fi
echo "$VELMAR_FTP_USER:$VELMAR_FTP_PASSWORD" | as_root chpasswd

printf '%s\n' \
  '# Logins of the Velmar98 test FTP server (see scripts/setup-test-servers.sh).' \
  'auth     required pam_unix.so' \
  'account  required pam_unix.so' \
  'session  required pam_permit.so' |
  as_root tee "/etc/pam.d/$VELMAR_PAM_SERVICE" >/dev/null
