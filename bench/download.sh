#!/usr/bin/env bash
# Download benchmark (not a test), against a loopback nginx, all in one run:
#   1. unshaped: a SIZE_MIB file fetched by fetch.exe (the installer's libcurl downloader) under Wine, by curl.exe
#      built from the same libcurl source under the same Wine prefix, and by the machine's native curl;
#   2. shaped: a 256 MiB file from a location that nginx limits to 4 MiB/s per connection (limit_rate 4m), fetched
#      by fetch.exe (parallel ranges) and by curl.exe (one stream);
#   3. resume: fetch.exe of the shaped file killed at about half, then run again; the bytes nginx sent for the
#      second run (its access log) against the file's size, and the result compared with the served file.
# Prints MB/s (10^6 bytes per second, wall time of the whole command, Wine start-up included for the .exe runs),
# the ratios fetch.exe / curl.exe and the peak resident memory of each; fetch.exe's peak is also measured on a
# 64 MiB file to show that memory does not grow with the download.
# Each build tree named is measured in the same run against the same server (the 32-bit build in build/ and the
# x86_64 one in build-x86_64/ by default, when it exists); each is compared with curl.exe of its own architecture.
# The shaped and resume cases run for the first build tree only (they measure the server's shaping, not the CPU).
# Usage: bench/download.sh [BUILD_DIR[,BUILD_DIR...]] [SIZE_MIB=1024] [RUNS=3]   (build first: scripts/test)
set -euo pipefail
. "$(dirname "$0")/../scripts/wine-loader.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
tunivox_wine_line bench >&2
# Where no 32-bit program starts, only the x86_64 build can be measured.
if tunivox_runs i686; then
    default_builds=$root/build
    [ -d "$root/build-x86_64" ] && default_builds+=",$root/build-x86_64"
else
    default_builds=$root/build-x86_64
fi
IFS=, read -r -a builds <<<"${1:-$default_builds}"
size_mib=${2:-1024}
runs=${3:-3}
shaped_mib=256

archs=() fetch_exes=() curl_exes=()
for b in "${builds[@]}"; do
    b=$(cd "$b" && pwd)
    # The build tree names its toolchain and the libcurl it was configured with (scripts/configure).
    arch=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*mingw-w64-\(.*\)\.cmake$/\1/p' "$b/CMakeCache.txt")
    curl_prefix=$(sed -n 's/^CURL_PREFIX:[A-Z]*=//p' "$b/CMakeCache.txt")
    archs+=("$arch")
    fetch_exes+=("$b/tools/fetch/fetch.exe")
    curl_exes+=("$curl_prefix/bin/curl.exe")
    [ -f "$b/tools/fetch/fetch.exe" ] || { echo "bench: $b/tools/fetch/fetch.exe missing; build first" >&2; exit 1; }
    [ -f "$curl_prefix/bin/curl.exe" ] || { echo "bench: $curl_prefix/bin/curl.exe missing; run scripts/bootstrap" >&2; exit 1; }
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
shaped_size=$((shaped_mib * 1048576))
echo "bench: generating ${size_mib} MiB, ${shaped_mib} MiB and 64 MiB files for nginx in $work" >&2
python3 "$servers" nginx start "$work/nginx" --file "files/big.bin=$size" --file "files/64m.bin=67108864" \
    --file "files/shaped.bin=$shaped_size" >&2
port=$(cat "$work/nginx/port")
url=http://127.0.0.1:$port/files/big.bin
shaped_url=http://127.0.0.1:$port/shaped/files/shaped.bin
access_log=$work/nginx/logs/access.log
# One wineserver for all runs, so that no run pays for starting it; it leaves by itself 10 s after the last one.
wineserver -p10
wine cmd /c exit >/dev/null 2>&1 || true

# measure NAME BYTES RUNS COMMAND... : runs the command RUNS times; prints "NAME MB/s peak_KiB seconds" of the
# median run.
measure() {
    local name=$1 bytes=$2 count=$3
    shift 3
    local results=()
    for _ in $(seq "$count"); do
        rm -f "$work/out.bin" "$work/out.bin.part" "$work/out.bin.part.state"
        sync
        /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" ||
            { echo "bench: $name failed:" >&2; tail -n 5 "$work/stdout.txt" "$work/stderr.txt" >&2; exit 1; }
        local got
        got=$(stat -c %s "$work/out.bin")
        [ "$got" = "$bytes" ] || { echo "bench: $name wrote $got bytes, expected $bytes" >&2; exit 1; }
        read -r secs kib <"$work/time.txt"
        results+=("$(awk -v s="$secs" -v b="$bytes" 'BEGIN { printf "%.1f", b / s / 1e6 }') $kib $secs")
    done
    printf '%s\n' "${results[@]}" | sort -n | awk -v n="$name" -v r="$count" 'NR == int((r + 1) / 2) { print n, $1, $2, $3 }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'
}

win_out="Z:${work//\//\\}\\out.bin"
lines=() summary=()
for i in "${!archs[@]}"; do
    a=${archs[$i]}
    fetch=$(measure "fetch.exe/$a" "$size" "$runs" wine "${fetch_exes[$i]}" "$url" "$win_out")
    curlexe=$(measure "curl.exe/$a" "$size" "$runs" wine "${curl_exes[$i]}" -s -o "$win_out" "$url")
    rm -f "$work/out.bin"
    small_peak=$(/usr/bin/time -f '%M' wine "${fetch_exes[$i]}" "http://127.0.0.1:$port/files/64m.bin" "$win_out" 2>&1 >/dev/null | tail -n 1)
    lines+=("$fetch" "$curlexe")
    read -r _ fetch_mbs fetch_kib _ <<<"$fetch"
    read -r _ curl_mbs _ _ <<<"$curlexe"
    setup=$(dirname "$(dirname "$(dirname "${fetch_exes[$i]}")")")/app/TunivoxSetup.exe
    summary+=("$a unshaped: ratio fetch.exe / curl.exe $(ratio "$fetch_mbs" "$curl_mbs") (goal >= 0.95); fetch.exe peak RSS ${fetch_kib} KiB for ${size_mib} MiB, ${small_peak} KiB for 64 MiB; TunivoxSetup.exe $(stat -c %s "$setup" 2>/dev/null || echo '?') bytes")
done
native=$(measure curl/native "$size" "$runs" curl -s -o "$work/out.bin" "$url")
lines+=("$native")

# Shaped: one run each (a 256 MiB file at 4 MiB/s is a minute for one stream).
a=${archs[0]}
shaped_fetch=$(measure "fetch.exe/$a" "$shaped_size" 1 wine "${fetch_exes[0]}" "$shaped_url" "$win_out")
shaped_curl=$(measure "curl.exe/$a" "$shaped_size" 1 wine "${curl_exes[0]}" -s -o "$win_out" "$shaped_url")
read -r _ sf_mbs sf_kib _ <<<"$shaped_fetch"
read -r _ sc_mbs _ _ <<<"$shaped_curl"
summary+=("$a shaped (limit_rate 4m per connection): ratio fetch.exe / curl.exe $(ratio "$sf_mbs" "$sc_mbs") (goal >= 3.5); fetch.exe peak RSS ${sf_kib} KiB")

# Resume: kill fetch.exe once its state file records half of the file, then run it again.
rm -f "$work/out.bin" "$work/out.bin.part" "$work/out.bin.part.state"
recorded() {
    if [ -f "$work/out.bin.part.state" ]; then
        awk '$1 == "done" { n += $3 - $2 } END { print n + 0 }' "$work/out.bin.part.state"
    else
        echo 0
    fi
}
wine "${fetch_exes[0]}" "$shaped_url" "$win_out" >"$work/resume1.txt" 2>&1 &
first=$!
while kill -0 "$first" 2>/dev/null && [ "$(recorded)" -lt $((shaped_size / 2)) ]; do
    sleep 0.2
done
kill -KILL "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true
killed_at=$(recorded)
part_size=$(stat -c %s "$work/out.bin.part" 2>/dev/null || echo 0)
log_lines=$(wc -l <"$access_log")
/usr/bin/time -f '%e %M' -o "$work/time.txt" wine "${fetch_exes[0]}" "$shaped_url" "$win_out" >"$work/resume2.txt" 2>&1 ||
    { echo "bench: the resumed fetch.exe failed:" >&2; tail -n 5 "$work/resume2.txt" >&2; exit 1; }
read -r resume_secs _ <"$work/time.txt"
# nginx logs a request when it ends; the last range may land a moment after the client is done.
sleep 1
second_sent=$(tail -n +"$((log_lines + 1))" "$access_log" | awk -F '\t' '$1 == "GET" { n += $5 } END { print n + 0 }')
if cmp -s "$work/out.bin" "$work/nginx/html/files/shaped.bin"; then same="byte-identical"; else same="DIFFERENT"; fi
summary+=("$a resume: killed with ${killed_at} of ${shaped_size} bytes recorded (part file ${part_size} bytes); the second run took ${resume_secs} s and nginx sent it ${second_sent} bytes ($(ratio "$second_sent" "$shaped_size") of the file); result $same")

echo
echo "download from loopback nginx ($(nproc) cores); unshaped ${size_mib} MiB: median of $runs runs; shaped ${shaped_mib} MiB at 4 MiB/s per connection: 1 run (MB = 10^6 bytes, wall time)"
printf '%-10s %-16s %10s %14s %8s\n' case tool MB/s "peak RSS KiB" seconds
for line in "${lines[@]}"; do
    read -r n mbs kib secs <<<"$line"
    printf '%-10s %-16s %10s %14s %8s\n' unshaped "$n" "$mbs" "$kib" "$secs"
done
for line in "$shaped_fetch" "$shaped_curl"; do
    read -r n mbs kib secs <<<"$line"
    printf '%-10s %-16s %10s %14s %8s\n' shaped "$n" "$mbs" "$kib" "$secs"
done
printf '%s\n' "${summary[@]}"
[ "$same" = "byte-identical" ]
