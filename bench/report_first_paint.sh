#!/bin/sh
# The first paint of the report of 100,000 entries in headless Chromium: bench_scale_reports keeps its page, a copy
# of it reports the browser's paint timings and the load event into its body, and Chromium dumps that body.
# usage: bench/report_first_paint.sh BUILD_DIR   (needs chromium)
set -eu
build=${1:-build/bench}
work=$(mktemp -d /tmp/tarnwick-paint-XXXXXX)
trap 'rm -rf "$work"' EXIT
TARNWICK_BENCH_KEEP_REPORT="$work/Tarnwick.html" "$build/bench/bench_scale_reports" --benchmark_filter=BM_Report >/dev/null
cp "$work/Tarnwick.html" "$work/timed.html"
cat >>"$work/timed.html" <<'JS'
<script>
window.addEventListener("load", function () {
  var out = performance.getEntriesByType("paint").map(function (e) { return e.name + "=" + Math.round(e.startTime) + "ms"; });
  out.push("load=" + Math.round(performance.now()) + "ms");
  document.body.setAttribute("data-timings", out.join(" "));
});
</script>
JS
echo "load $(cat /proc/loadavg)"
echo "page $(stat -c %s "$work/Tarnwick.html") bytes"
start=$(date +%s%N)
chromium --headless --no-sandbox --disable-gpu --virtual-time-budget=30000 --dump-dom "file://$work/timed.html" 2>/dev/null |
    grep -o 'data-timings="[^"]*"'
echo "chromium wall $(( ($(date +%s%N) - start) / 1000000 )) ms"
