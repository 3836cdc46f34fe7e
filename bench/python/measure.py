"""Measures the Python module `lds` against lds-sim, as a user's loop runs it.

    /usr/bin/python3 bench/python/measure.py BUILD [SECONDS]

1. A loop over Sensor.revolutions() for SECONDS (default 300) with the
   simulator at 460800 baud and the line's full rate: the process's CPU (all
   its threads: the loop, the library's reader, the port's I/O thread) and
   the points lost between the simulator and the loop.
2. In the same run, the latency from the simulator writing the packet that
   completes a revolution (its --marker log) to revolutions() yielding that
   revolution: median, 99th percentile and maximum. The marker stands at 1 m
   in even and 2 m in odd revolutions, which pairs the two.
3. Ctrl-C: a child process looping over revolutions() gets SIGINT twenty
   times; the time until its KeyboardInterrupt is raised.
A measuring program, not a test.
"""
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 300.0
sys.path.insert(0, os.path.join(build, "python"))
import numpy as np  # noqa: E402

import lds  # noqa: E402

SIM = os.path.join(build, "sim", "lds-sim")
work = tempfile.mkdtemp(prefix="lds-python-measure-")


def start_sim(*args):
    proc = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return proc.stdout.readline().strip(), proc


def marker_parity(rev):
    """0 when the marker at 140 to 160 degrees stands at 1 m, 1 at 2 m."""
    near = (rev.angle > 142) & (rev.angle < 158) & (rev.distance > 0)
    return -1 if not near.any() else 0 if np.median(rev.distance[near]) < 1500 else 1


# 1 and 2: the loop at the line's full rate.
marker = os.path.join(work, "marker.log")
stats = os.path.join(work, "sim.stats")
port, sim = start_sim("--baud", "460800", "--pps", "max", "--marker", marker, "--stats-file", stats)
yielded = []  # (number, monotonic ns, parity, points)
with lds.Sensor(port, baud=460800) as sensor:
    sensor.start()
    cpu0, wall0 = time.process_time(), time.monotonic()
    for rev in sensor.revolutions(timeout=5.0):
        yielded.append((rev.number, time.monotonic_ns(), marker_parity(rev), len(rev)))
        if time.monotonic() - wall0 >= seconds:
            break
    cpu, wall = time.process_time() - cpu0, time.monotonic() - wall0
    sensor.stop()
    link = sensor.link_stats
sim.terminate()
sim.wait(5)
sent = dict(line.split("=") for line in open(stats).read().split())

logged = []  # (ns, simulator's revolution), in order
for line in open(marker):
    number, ns = line.split()
    logged.append((int(ns), int(number)))
# Each revolution pairs with the latest one the simulator logged before it
# was yielded with the same marker (a loaded simulator may skip packets, so
# the two counts need not keep one offset). The first two, yielded while the
# module warms up (NumPy's first arrays), are left out.
latencies, unpaired, at = [], 0, 0
for _, ns, parity, _ in yielded[2:]:
    while at < len(logged) and logged[at][0] <= ns:
        at += 1
    before = [t for t, n in logged[max(0, at - 2):at] if n % 2 == parity]
    if before:
        latencies.append((ns - before[-1]) / 1e6)
    else:
        unpaired += 1

numbers = [n for n, *_ in yielded]
gaps = sum(b - a - 1 for a, b in zip(numbers, numbers[1:]))
in_revolutions = sum(p for *_, p in yielded)
decoded = link.packets * 12
line_lost = int(sent["points"]) - decoded
print(f"lds {lds.__version__}, {wall:.1f} s at 460800 baud, the line's full rate")
print(f"  CPU of the Python process: {cpu:.2f} s = {100 * cpu / wall:.2f} % of one core")
print(f"  revolutions yielded: {len(yielded)} ({len(yielded) / wall:.2f}/s), missing numbers: {gaps}, "
      f"dropped: {link.dropped_revolutions}")
print(f"  points sent by lds-sim: {sent['points']}, decoded: {decoded}, lost on the line: {line_lost}, "
      f"dropped from the decoder's queue: {link.dropped_points}, CRC errors: {link.crc_errors}")
print(f"  points in the yielded revolutions: {in_revolutions} ({in_revolutions / len(yielded):.1f} a revolution); "
      f"decoded outside them (the partial first and last turns): {decoded - in_revolutions}")
# A missing number is a whole revolution dropped because the loop fell behind.
print(f"  points lost: {line_lost + link.dropped_points + round(gaps * in_revolutions / len(yielded))}")
q = np.percentile(latencies, [50, 99])
print(f"  latency from the simulator's last packet to the yield ({len(latencies)} revolutions, {unpaired} unpaired): "
      f"median {q[0]:.2f} ms, p99 {q[1]:.2f} ms, max {max(latencies):.2f} ms")

# 3: Ctrl-C.
CHILD = r"""
import sys, time, lds
with lds.Sensor(sys.argv[1]) as sensor:
    sensor.start()
    try:
        for rev in sensor.revolutions(timeout=None):
            print("revolution", flush=True)
    except KeyboardInterrupt:
        print("interrupted", time.monotonic_ns(), flush=True)
"""
port, sim = start_sim()
delays = []
for _ in range(20):
    # Started in the background, this script ignores SIGINT and its children
    # would inherit that: they get Ctrl-C's default back.
    child = subprocess.Popen([sys.executable, "-c", CHILD, port], stdout=subprocess.PIPE, text=True,
                             env=dict(os.environ, PYTHONPATH=os.path.join(build, "python")),
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    child.stdout.readline()
    time.sleep(0.037 * len(delays) % 0.1)  # at different points of the 50 ms slices
    sent_ns = time.monotonic_ns()
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=10)
    line = [entry for entry in out.splitlines() if entry.startswith("interrupted")][0]
    delays.append((int(line.split()[1]) - sent_ns) / 1e6)
sim.terminate()
sim.wait(5)
print(f"Ctrl-C to KeyboardInterrupt, 20 times: median {statistics.median(delays):.1f} ms, "
      f"max {max(delays):.1f} ms")
