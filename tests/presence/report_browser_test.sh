#!/usr/bin/env bash
# The presence report in a real browser (headless Chromium): recordings of two recorders over
# several days are converted, reported on, and the report loaded. The page the browser built
# must hold one grid cell per hour and date of each location, grey where nothing was recorded,
# night bands, and nothing the page fetched or tried to fetch: no request of the page in the
# browser's network log, no refusal of its Content-Security-Policy on the console, no element
# that loads. Two tampered copies show that each check sees a fetch. Then a screenshot.
#   report_browser_test.sh WAVTOKEB_CLI WAVTOKEB_SYNTH [SCREENSHOT.png]
set -euo pipefail
cli=$1
synth=$2
keep=${3:-}
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
    echo "FAIL: no chromium to render the report in (Debian package chromium; make test installs it)"
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Recorder 5987 on the 11th, 12th and 14th of June, recorder 6001 on the 13th (UTC); in the
# clock of +02:00 they fall on four dates and on one.
seed=1
for start in 2024-06-11T03:00:00 2024-06-12T13:30:00 2024-06-14T21:10:00; do
    "$synth" recorder "$work/rec" --style soundtrap --prefix 5987 --start "$start" --rate 384 \
        --seconds 10 --seed $((seed++)) > /dev/null
done
"$synth" recorder "$work/rec" --style soundtrap --prefix 6001 --start 2024-06-13T10:00:00 \
    --rate 384 --seconds 10 --seed 9 > /dev/null
"$cli" convert "$work/rec" -o "$work/out" --rate 384 -q > /dev/null
"$cli" report "$work/out" -o "$work/report.html" --lat 54.5 --lon 10.2 --utc-offset +02:00 \
    > /dev/null

# Loads a page with the given arguments: the console goes to $work/console.txt, the network
# log to $work/net.json. Nothing of the browser's own reaches the network either.
browse() {
    local page=$1
    shift
    rm -rf "$work/profile"
    "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$work/profile" --host-resolver-rules="MAP * ~NOTFOUND" \
        --enable-logging=stderr --v=0 --log-net-log="$work/net.json" "$@" "file://$page" \
        2> "$work/console.txt"
}
# Requests made for the page (the browser's own have another isolation key).
page_requests() { grep -c '"network_isolation_key":"file://' "$work/net.json" || true; }
policy_refusals() { grep -c 'Content Security Policy' "$work/console.txt" || true; }

browse "$work/report.html" --dump-dom > "$work/dom.html"
# Cells and grey cells of each grid, in the order of the locations.
cells=$(awk '/<svg class="grid/ { n++ }
             /<rect class="cell/ { c[n]++ }
             /<rect class="cell none/ { g[n]++ }
             END { for (i = 1; i <= n; i++) printf "%d/%d ", c[i], g[i] }' "$work/dom.html")
[ "$cells" = "96/93 24/23 " ] || fail "grid cells/grey cells per location: $cells, expected 96/93 24/23"
nights=$(grep -c '<path class="night" d="M' "$work/dom.html" || true)
[ "$nights" = 2 ] || fail "$nights grids with night bands, expected 2"
grep -q '<h2>NewFileName5987</h2>' "$work/dom.html" || fail "no section of NewFileName5987"
[ "$(page_requests)" = 0 ] || fail "the report made $(page_requests) requests"
[ "$(policy_refusals)" = 0 ] || fail "the report tried to load what its policy refuses: $(grep 'Content Security Policy' "$work/console.txt" | head -3)"
loading=$(grep -Eo '<[a-z]+ [^>]*(src|href)="[^#][^"]*"' "$work/dom.html" | head -3 || true)
[ -z "$loading" ] || fail "elements that load: $loading"

# The checks see a fetch: an image and a style sheet added to the report are refused by its
# policy; without the policy the image is requested.
sed 's|<h1>|<img src="http://192.0.2.1/x.png"><link rel="stylesheet" href="x.css"><h1>|' \
    "$work/report.html" > "$work/tampered.html"
browse "$work/tampered.html" --dump-dom > /dev/null
[ "$(policy_refusals)" -ge 2 ] || fail "the policy did not refuse the tampered page's image and style sheet"
sed 's|<meta http-equiv="Content-Security-Policy"[^>]*>||' "$work/tampered.html" \
    > "$work/unguarded.html"
browse "$work/unguarded.html" --dump-dom > /dev/null
[ "$(page_requests)" -ge 1 ] || fail "the network log did not show the unguarded page's request"

# The screenshot: a PNG as wide as the window.
browse "$work/report.html" --hide-scrollbars --window-size=1100,1500 \
    --screenshot="$work/report.png" > /dev/null
width=$(od -An -tu1 -j16 -N4 "$work/report.png" 2> /dev/null | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 }')
[ "$(head -c 8 "$work/report.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] \
    || fail "the screenshot is no PNG"
[ "$width" = 1100 ] || fail "the screenshot is $width pixels wide, expected 1100"
[ "$(stat -c %s "$work/report.png")" -gt 20000 ] || fail "the screenshot is nearly empty"
[ -z "$keep" ] || cp "$work/report.png" "$keep"

[ $failures -eq 0 ] || exit 1
echo "report: $cells cells/grey cells, no request, screenshot ${width} px wide"
