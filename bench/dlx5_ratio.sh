#!/usr/bin/env bash
# get_topn (with its cutoff, one thread: set_threads(1)) against Knuth's DLX5 on the DLX copies of the ranked
# instances, with the same integer costs (round(10000 * weight)): CPU seconds of each, their
# ratio, and whether the k best costs agree as a multiset. DLX5 is built from the sources in
# ../shared/peers/knuth (needs ctangle); its time includes reading its input, xcover's does not
# include converting the JSON instance.
#   bash bench/dlx5_ratio.sh [NAME:K ...]   (default: the cases of the ranked benchmark)
set -euo pipefail
cd "$(dirname "$0")/.."
ranked=../shared/bench-instances/ranked
dlx=$(bash ../shared/peers/knuth/build.sh "${XDG_CACHE_HOME:-$HOME/.cache}/knuth-dlx")
PY=$(bash scripts/setup-python.sh)
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(pent6x10w:1 pent6x10w:10 pent6x10w:100 grid8w:1 grid8w:10 grid8w:100
                                 grid10w:1 grid10w:10 grid10w:100 wgnp30:1000)
printf '%-10s %6s %10s %10s %7s %s\n' instance k xcover_s dlx5_s ratio same_costs
for c in "${cases[@]}"; do
    name=${c%%:*} k=${c##*:}
    PYTHONPATH="$PWD/build" "$PY" - "$ranked/$name.json" "$k" "$dlx/dlx5" "$ranked/dlx/$name.dlx" "$name" <<'PYEOF'
import json, os, re, subprocess, sys, tempfile, time
import xcover
path, k, dlx5, dlx_input, name = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
# DLX5's CPU seconds (user + system) from the kernel's accounting of the child, to the
# microsecond: a shell's time rounds to hundredths, a third of a 0.03 s run.
with open(dlx_input, "rb") as stdin, tempfile.TemporaryFile("w+") as report_file:
    child = subprocess.Popen([dlx5, f"k{k}"], stdin=stdin, stdout=subprocess.DEVNULL, stderr=report_file)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"dlx5 failed on {name} (exit {child.returncode})")
    dlx_s = usage.ru_utime + usage.ru_stime
    report_file.seek(0)
    report = report_file.read()
d = json.load(open(path))
weights = [float(round(10000 * w)) for w in d["weights"]]
xcover.set_threads(1)
start = time.process_time()
covers = xcover.get_topn(d["partitions"], weights, k)
seconds = time.process_time() - start
ours = sorted(int(sum(weights[b] for b in c)) for c in covers)
# DLX5 ends its report with "The optimum cost is $C" or "The optimum costs are:" and one
# " $C" line per cost, " $C (repeated R times)" for a cost that R covers share.
theirs = sorted(int(cost) for cost, times in
                re.findall(r"\$(\d+)(?: \(repeated (\d+) times\))?", report[report.find("The optimum"):])
                for _ in range(int(times or 1)))
print(f"{name:<10} {k:>6} {seconds:>10.4f} {dlx_s:>10.4f} {seconds / max(dlx_s, 1e-6):>7.2f} {ours == theirs}")
PYEOF
done
