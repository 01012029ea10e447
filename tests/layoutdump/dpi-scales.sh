#!/usr/bin/env bash
# Every window of the installer laid out at 96, 120, 144 and 192 DPI (the prefix's LogPixels, which Wine reads when a
# program starts): at each scale every control's rectangle and the window's size are the 96-DPI ones times DPI/96
# within a pixel, and no text is wider than its control.
# Usage: dpi-scales.sh BUILD_DIR (in the GUI prefix, on the Xvfb display: the ctest entry gives both).
set -euo pipefail
build=$(cd "${1:?usage: dpi-scales.sh BUILD_DIR}" && pwd)
run() { "$build/wine-run" "$@" 2>/dev/null | tr -d '\r'; }
keys=("HKCU\\Control Panel\\Desktop" "HKLM\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts")
set_dpi() {
    local key
    for key in "${keys[@]}"; do
        run reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
    done
}
work=$(mktemp -d)
trap 'set_dpi 96; rm -rf "$work"' EXIT
failures=0

# The layouts and pages to compare: each dialog, and each page of the main window.
views=(147 148 150 151 152)
for page in 0 1 2 3 4 5 6 7; do
    views+=("149 $page")
done
for dpi in 96 120 144 192; do
    set_dpi "$dpi"
    for view in "${views[@]}"; do
        # shellcheck disable=SC2086
        if run "$build/tools/layoutdump/layoutdump.exe" $view >"$work/$dpi-${view// /-}.txt"; then
            :
        else
            rm -f "$work/$dpi-${view// /-}.txt" # a page the main window does not have
        fi
    done
done

for file in "$work"/96-*.txt; do
    view=${file#"$work"/96-}
    for dpi in 120 144 192; do
        scaled=$work/$dpi-$view
        [ -s "$scaled" ] || { echo "FAILED: no layout of ${view%.txt} at $dpi DPI"; failures=$((failures + 1)); continue; }
        # Joined by name: each edge within a pixel of the 96-DPI one times the scale, text within its room.
        if ! awk -v dpi="$dpi" -v view="${view%.txt}" '
            function near(a, b) { return (a - b <= 1 && b - a <= 1) }
            FNR == NR { x[$1] = $2; y[$1] = $3; r[$1] = $2 + $4; b[$1] = $3 + $5; next }
            {
                s = dpi / 96; seen[$1] = 1
                if (!($1 in x)) { printf "FAILED: %s at %d DPI: %s is not at 96 DPI\n", view, dpi, $1; bad++; next }
                if (!near($2, x[$1] * s) || !near($3, y[$1] * s) || !near($2 + $4, r[$1] * s) || !near($3 + $5, b[$1] * s)) {
                    printf "FAILED: %s at %d DPI: %s is %d,%d %dx%d, not %s,%s %sx%s times %.2f\n", view, dpi, $1,
                        $2, $3, $4, $5, x[$1], y[$1], r[$1] - x[$1], b[$1] - y[$1], s
                    bad++
                }
                if ($6 > $7) { printf "FAILED: %s at %d DPI: the text of %s takes %d pixels of %d\n", view, dpi, $1, $6, $7; bad++ }
            }
            END { for (n in x) if (!(n in seen)) { printf "FAILED: %s at %d DPI: %s is missing\n", view, dpi, n; bad++ }
                  exit bad > 0 }' "$file" "$scaled"; then
            failures=$((failures + 1))
        fi
    done
    # At 96 DPI too, every text fits.
    awk -v view="${view%.txt}" '$6 > $7 { printf "FAILED: %s at 96 DPI: the text of %s takes %d pixels of %d\n", view, $1, $6, $7; bad++ }
        END { exit bad > 0 }' "$file" || failures=$((failures + 1))
done
count=$(find "$work" -name '96-*.txt' | wc -l)
[ "$count" -ge 7 ] || { echo "FAILED: only $count views laid out at 96 DPI"; failures=$((failures + 1)); }
echo "dpi-scales: $count views at 96, 120, 144 and 192 DPI, $failures failed"
[ "$failures" -eq 0 ]
