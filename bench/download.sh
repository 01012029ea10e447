#!/usr/bin/env bash
# Download throughput benchmark (not a test): a 1 GiB file from a loopback nginx, fetched
#   1. by fetch.exe (the installer's libcurl downloader) under Wine,
#   2. by curl.exe built from the same libcurl source, under the same Wine prefix,
#   3. by the machine's native curl.
# Prints MB/s (10^6 bytes per second, wall time of the whole command, Wine start-up included for 1 and 2), the
# ratio fetch.exe / curl.exe and the peak resident memory of each; fetch.exe's peak is also measured on a
# 64 MiB file to show that memory does not grow with the download.
# Each build tree named is measured in the same run against the same server (the 32-bit build in build/ and the
# x86_64 one in build-x86_64/ by default, when it exists); each is compared with curl.exe of its own architecture.
# Usage: bench/download.sh [BUILD_DIR[,BUILD_DIR...]] [SIZE_MIB] [RUNS]   (build first: scripts/test)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
default_builds=$root/build
[ -d "$root/build-x86_64" ] && default_builds+=",$root/build-x86_64"
IFS=, read -r -a builds <<<"${1:-$default_builds}"
size_mib=${2:-1024}
runs=${3:-3}
deps_env=${TUNIVOX_DEPS_CACHE:-/var/cache/tunivox-deps}/deps.env
[ -f "${builds[0]}/deps.env" ] && deps_env=${builds[0]}/deps.env
# shellcheck disable=SC1090
. "$deps_env"

archs=() fetch_exes=() curl_exes=()
for b in "${builds[@]}"; do
    b=$(cd "$b" && pwd)
    arch=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*mingw-w64-\(.*\)\.cmake$/\1/p' "$b/CMakeCache.txt")
    var=$(echo "$arch" | tr '[:lower:]' '[:upper:]')_CURL_PREFIX
    archs+=("$arch")
    fetch_exes+=("$b/tools/fetch/fetch.exe")
    curl_exes+=("${!var}/bin/curl.exe")
    [ -f "$b/tools/fetch/fetch.exe" ] || { echo "bench: $b/tools/fetch/fetch.exe missing; build first" >&2; exit 1; }
    [ -f "${!var}/bin/curl.exe" ] || { echo "bench: ${!var}/bin/curl.exe missing; run scripts/bootstrap" >&2; exit 1; }
done
if ! command -v curl >/dev/null; then
    echo "bench: installing the native curl" >&2
    apt-get install -y -qq curl >/dev/null
fi
[ -x /usr/bin/time ] || apt-get install -y -qq time >/dev/null

export WINEPREFIX=$(cd "${builds[0]}" && pwd)/wineprefix LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
"$root/scripts/wine-prefix" "$WINEPREFIX"

work=$(mktemp -d /tmp/tunivox-bench.XXXXXX)
servers="$root/tools/testservers/testservers.py"
cleanup() {
    python3 "$servers" nginx stop "$work/nginx" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

size=$((size_mib * 1048576))
echo "bench: generating ${size_mib} MiB and 64 MiB files for nginx in $work" >&2
python3 "$servers" nginx start "$work/nginx" --file "files/big.bin=$size" --file "files/64m.bin=67108864" >&2
port=$(cat "$work/nginx/port")
url=http://127.0.0.1:$port/files/big.bin
# One wineserver for all runs, so that no run pays for starting it; it leaves by itself 10 s after the last one.
wineserver -p10
wine cmd /c exit >/dev/null 2>&1 || true

# measure NAME COMMAND... : runs the command $runs times; prints "NAME MB/s peak_KiB" of the median run.
measure() {
    local name=$1
    shift
    local results=()
    for _ in $(seq "$runs"); do
        rm -f "$work/out.bin"
        sync
        /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" ||
            { echo "bench: $name failed:" >&2; tail -n 5 "$work/stdout.txt" "$work/stderr.txt" >&2; exit 1; }
        local got
        got=$(stat -c %s "$work/out.bin")
        [ "$got" = "$size" ] || { echo "bench: $name wrote $got bytes, expected $size" >&2; exit 1; }
        read -r secs kib <"$work/time.txt"
        results+=("$(awk -v s="$secs" -v b="$size" 'BEGIN { printf "%.1f", b / s / 1e6 }') $kib $secs")
    done
    printf '%s\n' "${results[@]}" | sort -n | awk -v n="$name" -v r="$runs" 'NR == int((r + 1) / 2) { print n, $1, $2, $3 }'
}

win_out="Z:${work//\//\\}\\out.bin"
lines=() summary=()
for i in "${!archs[@]}"; do
    a=${archs[$i]}
    fetch=$(measure "fetch.exe/$a" wine "${fetch_exes[$i]}" "$url" "$win_out")
    curlexe=$(measure "curl.exe/$a" wine "${curl_exes[$i]}" -s -o "$win_out" "$url")
    small_peak=$(/usr/bin/time -f '%M' wine "${fetch_exes[$i]}" "http://127.0.0.1:$port/files/64m.bin" "$win_out" 2>&1 >/dev/null | tail -n 1)
    lines+=("$fetch" "$curlexe")
    read -r _ fetch_mbs fetch_kib _ <<<"$fetch"
    read -r _ curl_mbs _ _ <<<"$curlexe"
    setup=$(dirname "$(dirname "$(dirname "${fetch_exes[$i]}")")")/app/TunivoxSetup.exe
    summary+=("$(awk -v a="$fetch_mbs" -v b="$curl_mbs" -v n="$a" 'BEGIN { printf "%s: ratio fetch.exe / curl.exe %.3f (goal >= 0.95)", n, a / b }'); fetch.exe peak RSS ${fetch_kib} KiB for ${size_mib} MiB, ${small_peak} KiB for 64 MiB; TunivoxSetup.exe $(stat -c %s "$setup" 2>/dev/null || echo '?') bytes")
done
native=$(measure curl/native curl -s -o "$work/out.bin" "$url")
lines+=("$native")

echo
echo "download of ${size_mib} MiB from loopback nginx, median of $runs runs (MB = 10^6 bytes, wall time)"
printf '%-16s %10s %14s %8s\n' tool MB/s "peak RSS KiB" seconds
for line in "${lines[@]}"; do
    read -r n mbs kib secs <<<"$line"
    printf '%-16s %10s %14s %8s\n' "$n" "$mbs" "$kib" "$secs"
done
printf '%s\n' "${summary[@]}"
