#!/usr/bin/env bash
# batch_bench.sh: throughput and peak memory of `mervalt --each` on 1 and 2 threads.
# Over 10,000 and 100,000 generated product records of about 370 bytes.
# Usage: bench/batch_bench.sh [MERVALT] [REPETITIONS]   (default build/release/mervalt, 7)
# Needs python3 and GNU time (Debian package time) for the peak RSS. The -o
# run writes into /dev/shm when there is one: on a disk it measures the disk.
set -euo pipefail
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/release/mervalt}")
reps=${2:-7}
work=$(mktemp -d)
pages=$(mktemp -d -p "$([ -d /dev/shm ] && echo /dev/shm || echo "$work")")
trap 'rm -rf "$work" "$pages"' EXIT

for n in 10000 100000; do
  awk -v n=$n -f "$here/batch/gen_records.awk" > "$work/records-$n.ndjson"
done
head -n 50000 "$work/records-100000.ndjson" > "$work/half-1.ndjson"
tail -n 50000 "$work/records-100000.ndjson" > "$work/half-2.ndjson"

echo "machine: $(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# One line per configuration: median wall time, records a second, median CPU
# time (user and system), the largest peak RSS of the runs, and the ratio of
# the wall times. The runs of 1 and 2 threads interleave.
python3 - "$cli" "$reps" "$work" "$here/batch/card.liquid" "$pages" <<'PY'
import os, shutil, statistics, subprocess, sys, time
cli, reps, work, template, pages = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]

# Wall time around the run; peak RSS in KiB from GNU time, whose own small
# image is all that the child's high-water mark holds from before the exec.
def run(args, out):
    shutil.rmtree(os.path.join(pages, "p"), ignore_errors=True)
    rss = os.path.join(work, "rss")
    start = time.perf_counter()
    with open(out, "wb") as sink:
        subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", rss, cli] + args, stdout=sink,
                       stderr=subprocess.DEVNULL, cwd=work, check=True)
    elapsed = time.perf_counter() - start
    with open(rss) as f:
        peak, user, system = f.read().split()[-3:]
    return elapsed, int(peak), float(user) + float(system)

# The CPU time the whole machine spent, in seconds (/proc/stat counts in
# hundredths): what others spent during a run is that less the run's own.
def machine_busy():
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:8]]
    return (sum(fields) - fields[3] - fields[4]) / 100

def measure(name, n, extra, out):
    times, rss, cpu = {1: [], 2: []}, {1: 0, 2: 0}, {1: [], 2: []}
    busy, wall, ours = machine_busy(), 0, 0
    for _ in range(reps):
        for j in (1, 2):
            t, m, c = run(["--each", f"records-{n}.ndjson", "-j", str(j)] + extra + [template], out)
            times[j].append(t)
            cpu[j].append(c)
            rss[j] = max(rss[j], m)
            wall, ours = wall + t, ours + c
    others = max(0, machine_busy() - busy - ours) / wall
    one, two = statistics.median(times[1]), statistics.median(times[2])
    print(f"{name:<21} {n:>7,}  -j 1 {one*1000:6.0f} ms {n/one:>8,.0f}/s cpu {statistics.median(cpu[1]):5.2f} s"
          f" {rss[1]/1024:5.1f} MiB | -j 2 {two*1000:6.0f} ms cpu {statistics.median(cpu[2]):5.2f} s"
          f" {rss[2]/1024:5.1f} MiB | ratio {one/two:.2f} | others used {others:.2f} cores")

# What the machine itself gives two threads: two processes of one thread,
# half the records each, against one process of one thread over all of them.
def ceiling():
    one, two = [], []
    args = lambda f: [cli, "--each", f, "-j", "1", template]
    for _ in range(reps):
        start = time.perf_counter()
        subprocess.run(args("records-100000.ndjson"), cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        one.append(time.perf_counter() - start)
        start = time.perf_counter()
        procs = [subprocess.Popen(args(f"half-{i}.ndjson"), cwd=work, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL) for i in (1, 2)]
        for p in procs:
            p.wait()
        two.append(time.perf_counter() - start)
    a, b = statistics.median(one), statistics.median(two)
    print(f"two processes of -j 1 on half each: {b*1000:.0f} ms against {a*1000:.0f} ms, ratio {a/b:.2f}")

for n in (10000, 100000):
    measure("standard output", n, [], os.path.join(work, "out.html"))
ceiling()
measure("-o one file a record", 10000, ["-o", os.path.join(pages, "p", "{{ id }}.html")], os.devnull)
PY
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
