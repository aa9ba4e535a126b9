#!/usr/bin/env bash
# Builds the Debian package, installs it as a user would (apt-get install ./...deb), and tries it
# as a user who cannot write /usr: chachong-batch checks a list in the user's home folder, the
# program starts (offscreen) and opens that user's own working database; nothing the package
# installed has changed. Then the package is removed again. Needs root (apt-get, a test user).
#   scripts/check-package.sh [BUILD_DIR]     the build to package (default: a release build)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "check-package.sh: run as root" >&2; exit 2; }
deb=$(scripts/package.sh "${1:-}" | tail -1)
deb=$(realpath "$deb")
export DEBIAN_FRONTEND=noninteractive
dpkg -s chachong >/dev/null 2>&1 && apt-get remove -y -qq chachong >/dev/null
apt-get install -y -qq "$deb" >/dev/null
shipped() { find /usr/share/chachong -type f -exec sha256sum {} + | sort; }
before=$(shipped)

user=chachong-check
id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
fail() { echo "check-package.sh: $*" >&2; exit 1; }
as_user touch /usr/share/chachong/probe 2>/dev/null && fail "the test user can write /usr/share"

# A list of the user's with one customer entered twice.
as_user sh -c "printf '姓名,电话,地址\n张三,13800138000,深圳市南山区科技园\n李四,13900139000,北京市朝阳区\n张三,13800138000,深圳市南山区科技园\n' > '$home/客户.csv'"
as_user /usr/bin/chachong-batch --version
as_user /usr/bin/chachong-batch check "$home/客户.csv" --fields 姓名,电话 --dup-csv "$home/重复.csv" \
    || fail "chachong-batch check failed"
[ "$(as_user grep -c 张三 "$home/重复.csv")" = 2 ] || fail "the duplicates were not written"
[ -f /usr/share/man/man1/chachong-batch.1.gz ] || fail "no manual page"

# The program, started as the desktop entry starts it, opens the user's own working database
# (a start-up that fails closes it again and shows a message instead).
runtime=$(as_user mktemp -d)
as_user env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" /usr/bin/chachong \
    >/dev/null 2>&1 &
own="$home/.local/share/chachong/MorlayBankCC.mdb"
opened=no
for _ in $(seq 1 40); do
    sleep 0.5
    pid=$(pgrep -u "$user" -x chachong || true)
    if [ -n "$pid" ] && ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$own"; then
        opened=yes
        break
    fi
done
pkill -u "$user" -x chachong || true
wait
[ "$opened" = yes ] || fail "the program did not open $own"
[ "$(stat -c %U "$own")" = "$user" ] || fail "$own does not belong to $user"

[ "$before" = "$(shipped)" ] || fail "files under /usr/share/chachong changed"
dpkg --verify chachong || fail "installed files changed"
apt-get remove -y -qq chachong >/dev/null
[ ! -e /usr/bin/chachong ] || fail "/usr/bin/chachong is still there after the removal"
userdel --remove "$user" 2>/dev/null || true
echo "check-package.sh: $(basename "$deb") installs, runs as $user and removes cleanly"
