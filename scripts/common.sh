# Shared by scripts/run and scripts/test: installs what is missing, builds.
set -euo pipefail

VELMAR_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages needed to build and run the program (OpenSSL and the system's
# trusted authorities for FTP over TLS; libssh for SFTP; QtKeychain and the
# libsecret it loads at run time for the desktop keyring).
VELMAR_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools
  qt6-svg-dev libqt6svg6 libgl-dev libpoco-dev qt6-qpa-plugins libssl-dev ca-certificates
  qtkeychain-qt6-dev libsecret-1-0 libssh-dev)
# Needed by the tests and benchmarks: real FTP servers, peers, a real X display;
# OpenSSH's client tools (ssh-keygen, ssh-agent, sftp) and the asyncssh server.
VELMAR_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev vsftpd python3-pyftpdlib
  python3 curl lftp iproute2 util-linux xvfb openbox xdotool imagemagick x11-utils dbus-x11 at-spi2-core
  python3-pyatspi python3-gi python3-openssl libcrypt-dev
  libpam-modules db-util
  dbus-daemon dbus-bin gnome-keyring libsecret-tools libglib2.0-bin
  clang libclang-rt-14-dev
  openssh-client python3-asyncssh)
# The libraries of pure-ftpd, proftpd and sshd, which scripts/fetch-test-servers unpacks
# without installing them (checked with ldd).
VELMAR_SERVER_LIB_PACKAGES=(libsodium23 libcap2 libssl3 libcrypt1 libpam0g libacl1
  libhiredis0.14 libidn2-0 libmemcached11 libmemcachedutil2 libncursesw6 libpcre2-8-0
  libpcre2-posix3 libtinfo6 zlib1g
  libwrap0 libaudit1 libsystemd0 libselinux1 libgssapi-krb5-2 libkrb5-3 libcom-err2)
# Needed by the first-run demo server.
VELMAR_RUN_PACKAGES=(python3-pyftpdlib python3-asyncssh)

velmar_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the packages of the given lists that are not installed yet.
velmar_install() {
  local missing=()
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    velmar_sudo apt-get update -qq
    velmar_sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# The run-time options of the sanitized builds (scripts/test-sanitized, scripts/fuzz).
# "velmar_sanitizer_env thread": those of the ThreadSanitizer build instead. Any
# report ends the program (exit code 66), so a race fails its test; the second
# stack of a lock-order report and a longer history make both sides of a race
# readable; Qt's own reports are suppressed, each with its reason, in
# tests/tsan/suppressions.txt.
velmar_sanitizer_env() {
  if [ "${1:-}" = thread ]; then
    # die_after_fork=0: the servers of the tests are started by posix_spawn or
    # QProcess, whose child only execs; the runtime still marked the test program
    # itself as "after fork" and killed it at its next thread (seen with
    # faults_copy_test), so the check is off.
    export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:history_size=4:die_after_fork=0:suppressions=$VELMAR_ROOT/tests/tsan/suppressions.txt:print_suppressions=0"
    return
  fi
  export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:strict_init_order=1:check_initialization_order=1"
  export LSAN_OPTIONS="suppressions=$VELMAR_ROOT/scripts/sanitizers/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
}

# velmar_build DIR [cmake args...]: configures (once) and builds in DIR.
velmar_build() {
  local dir="$1"; shift
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$VELMAR_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" "$@"
  cmake --build "$dir" -j "$(nproc)"
}
