#!/usr/bin/env bash
# The installer on a machine without a network: Wine runs inside a network namespace that has only loopback (with a
# prefix of its own, since a wineserver belongs to one namespace), the user clicks "一键安装" with the agreement
# ticked, and the network check must refuse with "当前网络环境较差，请在网络通畅时进行安装" while the start page stays;
# then a silent run must end with exit code 3 after the same check. Then offline packages: the signed package beside
# the installer installs without any network (exit 0), a tampered one there is ignored (the download then meets no
# network: exit 3), and a tampered one named by -package= is refused (exit 5). Last, an intranet: a package server
# inside the namespace answers, so the same check passes and a silent installation from it ends with exit code 0.
# Usage: no-network.sh BUILD_DIR. Exit 77 (skipped) when network namespaces cannot be made here (not root).
set -euo pipefail
. "$(dirname "$0")/../../scripts/wine-loader.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: no-network.sh BUILD_DIR}" && pwd)
work=$build/nonet
ns=tvx-nonet-$$
say() { printf 'no-network: %s\n' "$*"; }
die() {
    printf 'no-network: FAILED: %s\n' "$*" >&2
    exit 1
}

if [ "$(id -u)" -ne 0 ] || ! ip netns add "$ns" 2>/dev/null; then
    say "network namespaces need root here: skipped"
    exit 77
fi
prefix=$work/prefix
in_ns() { ip netns exec "$ns" env WINEPREFIX="$prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$@"; }
installer_pid=
server_pid=
cleanup() {
    set +e
    [ -n "$installer_pid" ] && kill "$installer_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    in_ns wineserver -k 2>/dev/null
    in_ns wineserver -w 2>/dev/null
    "$root/scripts/xvfb-fixture" stop "$work/xvfb" >/dev/null 2>&1
    ip netns del "$ns" 2>/dev/null
    # The prefix is made afresh by every run: its 700 MB are not kept.
    rm -rf "$prefix"
}
trap cleanup EXIT
ip netns exec "$ns" ip link set lo up

rm -rf "$work"
mkdir -p "$work"
"$root/scripts/xvfb-fixture" start "$work/xvfb" >/dev/null || die "Xvfb did not start"
DISPLAY=$(cat "$work/xvfb/xvfb.display")
export DISPLAY
in_ns "$root/scripts/wine-prefix" "$prefix" || die "no Wine prefix in the namespace"

log=$work/installer-debug.log
layout() { in_ns wine "$build/tools/layoutdump/layoutdump.exe" "$@" 2>/dev/null | tr -d '\r'; }
centre() { # centre LAYOUT PAGE NAME WINDOW -> "x y" on the screen
    local rect x y w h
    local pages=("$2")
    [ "$2" != - ] || pages=()
    rect=$(layout "$1" "${pages[@]}" | awk -v n="$3" '$1 == n { print $2, $3, $4, $5; exit }')
    [ -n "$rect" ] || die "layout $1 has no control $3"
    read -r x y w h <<<"$rect"
    eval "$(xdotool getwindowgeometry --shell "$4")"
    echo "$((X + x + w / 2)) $((Y + y + h / 2))"
}
click() { # click LAYOUT PAGE NAME WINDOW
    local p
    p=$(centre "$@")
    # shellcheck disable=SC2086
    xdotool mousemove --sync $p click 1
    sleep 0.5
}
wait_for() { # wait_for SECONDS WHAT COMMAND...
    local end=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || die "timed out waiting for $what (log: $log)"
        sleep 0.2
    done
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window "$1")" ]; }
logged() { [ -f "$log" ] && grep -q "$1" "$log"; }

in_ns wine "$build/tools/dbgcapture/dbgcapture.exe" "$(in_ns winepath -w "$log" 2>/dev/null)" \
    "$(in_ns winepath -w "$build/app/TunivoxSetup.exe" 2>/dev/null)" -downloadurl=http://127.0.0.1:9/tunivox/package/setup_tunivox.exe \
    >"$work/installer-stdout.log" 2>&1 &
installer_pid=$!
wait_for 60 "the main window" has_window '^Lumetra音频转换器$'
main=$(window '^Lumetra音频转换器$')
sleep 1
click 149 0 treatyCb "$main"
click 149 0 defaultInstallBtn "$main"
wait_for 60 "the network warning" logged "warning: 当前网络环境较差，请在网络通畅时进行安装"
wait_for 30 "the warning dialog" has_window '^消息框$'
warning=$(window '^消息框$')
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
import -window root -crop 612x412+$((X - 6))+$((Y - 6)) +repage "$work/no-network-warning.png"
say "screenshot $work/no-network-warning.png"
click 151 - closebtn "$warning"
sleep 1
! logged "page=2" || die "an installation started without a network"
# The start page is still there and usable: leave through the exit dialog.
click 149 0 closebtn "$main"
wait_for 30 "the exit dialog" has_window '^消息框$'
click 148 - okBtn "$(window '^消息框$')"
wait_for 30 "the installer to end" bash -c "! kill -0 $installer_pid 2>/dev/null"
wait "$installer_pid" || die "the installer ended with $?"
installer_pid=
say "OK: refused with the network warning, start page kept ($(grep -c . "$log") log lines in $log)"

# Silent mode makes the same check and ends with exit code 3 (no network) without a window.
silent_log=$work/installer-silent-debug.log
rc=0
in_ns wine "$build/tools/dbgcapture/dbgcapture.exe" "$(in_ns winepath -w "$silent_log" 2>/dev/null)" \
    "$(in_ns winepath -w "$build/app/TunivoxSetup.exe" 2>/dev/null)" -silent \
    -downloadurl=http://127.0.0.1:9/tunivox/package/setup_tunivox.exe >"$work/installer-silent-stdout.log" 2>&1 || rc=$?
[ "$rc" -eq 3 ] || die "the silent run ended with $rc, not 3 (log: $silent_log)"
grep -q "warning: 当前网络环境较差，请在网络通畅时进行安装" "$silent_log" || die "the silent run logged no network warning"
! grep -q "DL_CODE_START" "$silent_log" || die "the silent run downloaded without a network"
grep -q "and the package server does not answer" "$silent_log" || die "the silent run did not ask the package server"
say "OK: the silent run ended with 3"

# Offline packages: the installer copied into a folder of its own, the package beside it under the download URL's
# file name. A tampered copy has one byte of its DOS stub changed, which its signature no longer covers.
offline=$work/offline
mkdir -p "$offline"
cp "$build/app/TunivoxSetup.exe" "$offline/TunivoxSetup.exe"
cp "$build/tools/demopkg/DemoPackage.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=80 conv=notrunc status=none
while read -r beside option want expect; do
    cp "$build/tools/demopkg/DemoPackage.exe" "$offline/setup_tunivox.exe"
    [ "$beside" = signed ] || cp "$work/tampered.exe" "$offline/setup_tunivox.exe"
    options=()
    [ "$option" = - ] || options=("-package=$(in_ns winepath -w "$work/tampered.exe" 2>/dev/null)")
    before=$(sha256sum <"$offline/setup_tunivox.exe")
    offline_log=$work/installer-offline-$beside-$want-debug.log
    rc=0
    in_ns wine "$build/tools/dbgcapture/dbgcapture.exe" "$(in_ns winepath -w "$offline_log" 2>/dev/null)" \
        "$(in_ns winepath -w "$offline/TunivoxSetup.exe" 2>/dev/null)" -silent "-instdir=C:\Offline\$beside$want" \
        -downloadurl=http://127.0.0.1:9/tunivox/package/setup_tunivox.exe "${options[@]}" \
        >"$work/installer-offline-stdout.log" 2>&1 || rc=$?
    [ "$rc" -eq "$want" ] || die "$beside package beside, -package=$option: exit $rc, not $want (log: $offline_log)"
    grep -q "$expect" "$offline_log" || die "$beside package beside, -package=$option: no \"$expect\" ($offline_log)"
    [ "$(sha256sum <"$offline/setup_tunivox.exe")" = "$before" ] || die "the package beside the installer changed"
    say "OK: $beside package beside, -package=$option: exit $rc"
done <<'EOF2'
signed - 0 package beside the installer passes the checks
tampered - 3 warning: 当前网络环境较差，请在网络通畅时进行安装
signed tampered 5 package refused:
EOF2
grep -q "package beside the installer ignored" "$work/installer-offline-tampered-3-debug.log" ||
    die "the tampered package beside the installer was not named as ignored"
! grep -q "no Internet connection" "$work/installer-offline-signed-0-debug.log" ||
    die "the offline installation checked the network"

# The intranet: the system still sees no Internet, but the package server answers.
intranet=$work/intranet
mkdir -p "$intranet"
cp "$build/tools/demopkg/DemoPackage.exe" "$intranet/setup_tunivox.exe"
ip netns exec "$ns" python3 -m http.server 8181 --bind 127.0.0.1 --directory "$intranet" \
    >"$work/intranet-server.log" 2>&1 &
server_pid=$!
served() { ip netns exec "$ns" python3 -c 'import urllib.request as u
u.urlopen(u.Request("http://127.0.0.1:8181/setup_tunivox.exe", method="HEAD"), timeout=2)' 2>/dev/null; }
wait_for 30 "the intranet package server" served
intranet_log=$work/installer-intranet-debug.log
rc=0
in_ns wine "$build/tools/dbgcapture/dbgcapture.exe" "$(in_ns winepath -w "$intranet_log" 2>/dev/null)" \
    "$(in_ns winepath -w "$build/app/TunivoxSetup.exe" 2>/dev/null)" -silent '-instdir=C:\Intranet\Tunivox' \
    -downloadurl=http://127.0.0.1:8181/setup_tunivox.exe >"$work/installer-intranet-stdout.log" 2>&1 || rc=$?
[ "$rc" -eq 0 ] || die "the intranet installation ended with $rc, not 0 (log: $intranet_log)"
grep -q "no Internet connection, but the package server answers" "$intranet_log" ||
    die "the intranet installation did not say why the network check passed"
say "OK: the intranet installation ended with 0"
