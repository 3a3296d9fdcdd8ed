#!/bin/sh
# Installs, removes and purges a package with dpkg inside a private mount
# namespace, where /opt is an empty tmpfs and dpkg's database, /usr/share and
# /var/log are overlays: nothing of the machine changes. Run as
#   unshare -m --propagation private sh dpkg_lifecycle.sh PACKAGE OVREG
# Prints "lifecycle: ok" at the end; any failed check stops it with a message.
set -eu
deb=$1
ovreg=$2
unset ORVANE_REGISTRY ORVANE_APPLICATIONS_DIR ORVANE_POLKIT_ACTIONS_DIR ORVANE_ICONS_DIR
scratch=$(mktemp -d /tmp/ov-dpkg-XXXXXX)
mount -t tmpfs none "$scratch"
for d in /var/lib/dpkg /usr/share /var/log; do
    n=$(echo "$d" | tr / _)
    mkdir -p "$scratch/u$n" "$scratch/w$n"
    mount -t overlay overlay -o "lowerdir=$d,upperdir=$scratch/u$n,workdir=$scratch/w$n" "$d"
done
mount -t tmpfs none /opt

fail() { echo "FAILED: $*"; exit 1; }
service='HKLM\SYSTEM\CurrentControlSet\Services\Orvane Service'
entry=/usr/share/applications/orvane.desktop
action=/usr/share/polkit-1/actions/org.orvane.app.policy

# Dependencies are not this check's business (the machine may lack pkexec).
dpkg -i --force-depends "$deb" || fail "dpkg -i"
[ -f /opt/orvane/registry.db ] || fail "no registry after install"
[ -f /opt/orvane/data/hashdb.dbf ] || fail "no hash database after install"
grep -qx 'Exec=pkexec /opt/orvane/bin/Orvane' "$entry" || fail "menu entry: $(cat "$entry")"
grep -q '>/opt/orvane/bin/Orvane</annotate>' "$action" || fail "polkit action"
[ "$(stat -c %a /opt/orvane/infected)" = 700 ] || fail "quarantine mode"
[ "$(stat -c %a /opt/orvane/registry.db)" = 600 ] || fail "registry mode"
ORVANE_REGISTRY=/opt/orvane/registry.db "$ovreg" query "$service" /v Start |
    grep -q 'REG_DWORD    0x2' || fail "service record after install"
ORVANE_REGISTRY=/opt/orvane/registry.db "$ovreg" add 'HKLM\SOFTWARE\Orvane\Wardline\Settings' \
    /v SmartExt /t REG_DWORD /d 0 /f >/dev/null
echo quarantined >/opt/orvane/infected/finding.ovm

# Installing again (a reinstall runs prerm upgrade, then postinst) keeps the
# user's values.
dpkg -i --force-depends "$deb" || fail "dpkg -i again"
ORVANE_REGISTRY=/opt/orvane/registry.db "$ovreg" query 'HKLM\SOFTWARE\Orvane\Wardline\Settings' \
    /v SmartExt | grep -q 'REG_DWORD    0x0' || fail "a user's value was not kept"

dpkg -r --force-depends orvane || fail "dpkg -r"
[ ! -e "$entry" ] || fail "menu entry left after remove"
[ ! -e "$action" ] || fail "polkit action left after remove"
[ ! -e /opt/orvane/bin/orvane-setup ] || fail "programs left after remove"
[ "$(cat /opt/orvane/infected/finding.ovm)" = quarantined ] || fail "quarantine lost on remove"
[ -f /opt/orvane/registry.db ] || fail "registry lost on remove"
if ORVANE_REGISTRY=/opt/orvane/registry.db "$ovreg" query "$service" >/dev/null 2>&1; then
    fail "service record left after remove"
fi

dpkg -P orvane || fail "dpkg -P"
[ ! -e /opt/orvane ] || fail "left after purge: $(ls -A /opt/orvane)"
echo "lifecycle: ok"
