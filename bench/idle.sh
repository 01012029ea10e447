#!/usr/bin/env bash
# Idle CPU benchmark (not a test): how much processor time TunivoxSetup.exe takes while it only waits,
#   1. on page 0, the window shown and nobody touching it, and
#   2. during a silent run (-silent) while the package, a stand-in served by a loopback nginx, runs and reports a
#      progress line every 5 s,
# each over 30 s, for the build's exe and for an older exe side by side in the same run (same Wine prefix, display
# and server). Prints the CPU time of the installer's process (utime + stime of its Wine process, from
# /proc/PID/stat at the start and the end of the 30 s) as a percentage of one core, and the same for the prefix's
# wineserver, which does the work of every wait and every pipe operation of the installer.
# The older exe is OLD_EXE when given, else TunivoxSetup.exe built from the commit $TUNIVOX_IDLE_OLD_REV (default
# bc162b9, the last one whose package reader polled every 10 ms) into BUILD_DIR/idle-old (once; a few minutes).
# Usage: bench/idle.sh [BUILD_DIR] [OLD_EXE]   (build first: scripts/test)
set -euo pipefail
. "$(dirname "$0")/../scripts/wine-loader.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
default_build=$root/build idle_arch=i686
tunivox_runs i686 || default_build=$root/build-x86_64 idle_arch=x86_64
build=$(cd "${1:-$default_build}" && pwd)
old_exe=${2:-}
old_rev=${TUNIVOX_IDLE_OLD_REV:-bc162b9}
seconds=${IDLE_SECONDS:-30}
say() { printf 'idle: %s\n' "$*" >&2; }
tunivox_wine_line idle >&2
current_log=
die() {
    printf 'idle: FAILED: %s\n' "$*" >&2
    if [ -n "$current_log" ] && [ -f "$current_log" ]; then
        tail -n 15 "$current_log" >&2
    fi
    exit 1
}

new_exe=$build/app/TunivoxSetup.exe
standin=$build/tools/standin/standin.exe
for f in "$new_exe" "$standin" "$build/tools/trustroot/trustroot.exe" "$build/testca/ca.der"; do
    [ -f "$f" ] || die "$f is missing: build first (scripts/test)"
done
for tool in wine wineserver xdotool nginx python3; do
    command -v "$tool" >/dev/null || die "$tool is not installed (run scripts/bootstrap as root)"
done

if [ -z "$old_exe" ]; then
    old_exe=$build/idle-old/build/app/TunivoxSetup.exe
    if [ ! -f "$old_exe" ]; then
        deps_env=$build/deps.env
        [ -f "$deps_env" ] || deps_env=${TUNIVOX_DEPS_CACHE:-/var/cache/tunivox-deps}/deps.env
        [ -f "$deps_env" ] || die "no deps.env in $build or the dependency cache: run scripts/test first"
        say "building TunivoxSetup.exe of $old_rev into $build/idle-old (once)"
        rm -rf "$build/idle-old"
        mkdir -p "$build/idle-old/src"
        git -C "$root" archive "$old_rev" | tar -x -C "$build/idle-old/src" ||
            die "commit $old_rev is not in this clone: pass an older TunivoxSetup.exe as OLD_EXE"
        if ! "$build/idle-old/src/scripts/configure" "$idle_arch" "$build/idle-old/build" "$deps_env" \
            >"$build/idle-old/build.log" 2>&1 ||
            ! cmake --build "$build/idle-old/build" -j "$(nproc)" --target TunivoxSetup >>"$build/idle-old/build.log" 2>&1; then
            die "the old exe did not build (see $build/idle-old/build.log)"
        fi
    fi
fi
[ -f "$old_exe" ] || die "$old_exe is missing"
old_exe=$(realpath "$old_exe")

work=$(mktemp -d /tmp/tunivox-idle.XXXXXX)
prefix=$work/prefix
servers=$root/tools/testservers/testservers.py
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
installer_pid=
cleanup() {
    set +e
    if [ -n "$installer_pid" ] && kill -0 "$installer_pid" 2>/dev/null; then
        kill "$installer_pid"
    fi
    "$root/scripts/xvfb-fixture" stop "$work/xvfb" "$prefix" >/dev/null 2>&1 # ends this prefix's wineserver too
    python3 "$servers" nginx stop "$work/nginx" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

# A fresh prefix made on the display (its desktop process keeps that display), trusting the test CA that signed
# the stand-in package.
TUNIVOX_TRUSTED_ROOT=$build/testca/ca.der TUNIVOX_TRUSTROOT_EXE=$build/tools/trustroot/trustroot.exe \
    "$root/scripts/xvfb-fixture" start "$work/xvfb" "$prefix" >/dev/null || die "no display or prefix"
DISPLAY=$(cat "$work/xvfb/xvfb.display")
export DISPLAY
python3 "$servers" nginx start "$work/nginx" >/dev/null || die "nginx did not start"
mkdir -p "$work/nginx/html/tunivox/standin"
cp "$standin" "$work/nginx/html/tunivox/standin/setup.exe"
url=http://127.0.0.1:$(cat "$work/nginx/port")/tunivox/standin/setup.exe
# The package: a progress line every 5 s for 40 s, then success; it sleeps between the lines, as a package does
# while it copies files.
script=$work/package.script
{
    printf 'say Progress=0.1\\r\\n\n'
    for p in 2 3 4 5 6 7 8 9; do printf 'sleep 5000\nsay Progress=0.%s\\r\\n\n' "$p"; done
    printf 'say State=Success\\r\\n\n'
} >"$script"
winpath() { winepath -w "$1" 2>/dev/null; }
# The installer is started as `env ... wine EXE &` (no function, no subshell): $! is then the exe's own process,
# since env and Wine's loader replace themselves with the program. Wine takes its code page (936) from LANG.
locale_=(env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8)

# The wineserver of this prefix: the one working in the prefix's server folder, ".../server-DEV-INODE" (hex).
read -r prefix_dev prefix_inode < <(stat -c '%d %i' "$prefix")
server_dir=$(printf 'server-%x-%x' "$prefix_dev" "$prefix_inode")
wineserver_pid() {
    local p cwd
    for p in $(pgrep -x 'wineserver(64)?'); do
        cwd=$(readlink "/proc/$p/cwd" 2>/dev/null) || continue
        if [ "${cwd##*/}" = "$server_dir" ]; then
            echo "$p"
            return
        fi
    done
}
ticks() { # utime + stime of PID in clock ticks
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo -1; return; }
    stat=${stat##*) }
    # shellcheck disable=SC2086
    set -- $stat
    echo $((${12} + ${13}))
}
hz=$(getconf CLK_TCK)
percent() { awk -v t="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", t / hz / s * 100 }'; }

# sample NAME: CPU % of the installer and of the wineserver over $seconds, as a line "NAME installer server" of
# the results.
sample() {
    local server a0 s0 a1 s1
    server=$(wineserver_pid)
    grep -q TunivoxSetup "/proc/$installer_pid/cmdline" 2>/dev/null || die "$1: process $installer_pid is not the installer"
    a0=$(ticks "$installer_pid")
    s0=$(ticks "${server:-0}")
    sleep "$seconds"
    a1=$(ticks "$installer_pid")
    s1=$(ticks "${server:-0}")
    if [ "$a0" -lt 0 ] || [ "$a1" -lt 0 ]; then
        die "$1: the installer ended during the measurement"
    fi
    local server_percent=n/a
    if [ "$s0" -ge 0 ] && [ "$s1" -ge 0 ]; then
        server_percent=$(percent $((s1 - s0)))
    fi
    printf '%s %s %s\n' "$1" "$(percent $((a1 - a0)))" "$server_percent" >>"$work/results"
}
wait_until() { # wait_until SECONDS WHAT COMMAND...
    local end=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || die "timed out waiting for $what"
        kill -0 "$installer_pid" 2>/dev/null || die "the installer ended while waiting for $what"
        sleep 0.2
    done
}
window_shown() { [ -n "$(xdotool search --onlyvisible --name '^Lumetra音频转换器$' 2>/dev/null | head -n 1)" ]; }
logged() { [ -f "$1" ] && grep -q "$2" "$1"; }

# page0 LABEL EXE: the window on its first page, untouched.
page0() {
    local log=$work/$1-page0.log
    current_log=$log
    "${locale_[@]}" wine "$2" "-downloadurl=$url" "-log=$(winpath "$log")" >/dev/null 2>&1 &
    installer_pid=$!
    wait_until 60 "the window of $1" window_shown
    sleep 3 # start-up done: fonts, images, first paint
    sample "$1-page0"
    kill "$installer_pid"
    wait "$installer_pid" 2>/dev/null || true
    installer_pid=
}

# silent LABEL EXE: a silent run, measured once the package has started; the run must then succeed.
silent() {
    local log=$work/$1-silent.log rc=0
    current_log=$log
    "${locale_[@]}" wine "$2" -silent "-downloadurl=$url" "-instdir=C:\\idle\\$1" "-instcmd=-standin=$(winpath "$script")" \
        "-log=$(winpath "$log")" >/dev/null 2>&1 &
    installer_pid=$!
    wait_until 60 "the package of $1 to start" logged "$log" "package started"
    sleep 1
    sample "$1-silent"
    wait "$installer_pid" || rc=$?
    installer_pid=
    [ "$rc" -eq 0 ] || die "the silent run of $1 ended with $rc (log: $log)"
}

say "new: $new_exe"
say "old: $old_exe"
for exe in old new; do
    path=$new_exe
    [ "$exe" = old ] && path=$old_exe
    say "$exe: page 0 for ${seconds}s"
    page0 "$exe" "$path"
    say "$exe: silent run for ${seconds}s"
    silent "$exe" "$path"
done

printf 'CPU time over %s s, %% of one core (%s cores on this machine)\n' "$seconds" "$(nproc)"
printf '%-14s %10s %10s %12s %12s\n' case "old exe" "new exe" "old server" "new server"
for case in page0 silent; do
    read -r _ old_a old_s <<<"$(grep "^old-$case " "$work/results")"
    read -r _ new_a new_s <<<"$(grep "^new-$case " "$work/results")"
    printf '%-14s %9s%% %9s%% %11s%% %11s%%\n' "$case" "$old_a" "$new_a" "$old_s" "$new_s"
done
printf 'server: the wineserver of the prefix, which serves every wait and pipe call of the installer\n'
