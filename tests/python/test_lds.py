"""The Python module as a user runs it: lds-sim on a pseudo-terminal, lds-record
beside it for the rows it writes, and a child Python for Ctrl-C."""
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import lds

SIM = os.environ["LDS_SIM"]
RECORD = os.environ["LDS_RECORD"]


@pytest.fixture
def sim(tmp_path):
    """Starts lds-sim linked at tmp_path/NAME with its counters in NAME.stats."""
    started = []

    def start(*args, name="sim"):
        proc = subprocess.Popen([SIM, "--link", str(tmp_path / name), "--stats-file", str(tmp_path / f"{name}.stats"),
                                 *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        started.append(proc)
        assert proc.stdout.readline().startswith("/dev/pts/")
        return str(tmp_path / name), proc

    yield start
    for proc in started:
        proc.terminate()
        proc.wait(5)


@pytest.fixture
def stream(sim, tmp_path):
    """About six revolutions of lds-sim's room, captured once: every reader
    of its replay sees the same bytes from the first on."""
    _, capture = sim("--autostart", "--capture", str(tmp_path / "run.raw"), name="capture")
    time.sleep(0.65)
    capture.terminate()
    capture.wait(5)
    return str(tmp_path / "run.raw")


def counters(proc, path):
    """Ends the simulator and returns the counters it wrote at exit."""
    proc.terminate()
    proc.wait(5)
    return {k: int(v) for k, v in (line.split("=") for line in path.read_text().split())}


def rows(revolutions):
    """The revolutions' points as lds-record writes them (six significant digits for the angle)."""
    return [f"{a:.6g},{d},{i}" for r in revolutions
            for a, d, i in zip(r.angle.tolist(), r.distance.tolist(), r.intensity.tolist())]


def test_revolutions_are_the_rows_lds_record_writes(sim, stream, tmp_path):
    replay, _ = sim("--replay", stream, "--wait-start", name="replay")
    subprocess.run([RECORD, "--port", replay, "--revolutions", "3", "--csv", tmp_path / "a.csv", "--algo-filter",
                    "--dist-correct", "--angle-offset", "12.5"], check=True, capture_output=True, timeout=30)
    csv = (tmp_path / "a.csv").read_text().splitlines()[1:]
    assert len(csv) > 3 * 400
    settings = dict(algo_filter=True, dist_correct=True, angle_offset=12.5)

    # The recording read back: the recorder's three turns row for row, then
    # the rest, at 600 r/min and about 100 ms apart, each with the frame the
    # window draws.
    recording = list(lds.read_raw(stream, **settings))
    assert [r.number for r in recording] == list(range(1, len(recording) + 1)) and len(recording) >= 4
    assert rows(recording[:3]) == csv
    assert all(r.speed_rpm == 600.0 for r in recording)
    assert all(95 <= step <= 105 for step in np.diff([r.timestamp_ms for r in recording]))
    for r in recording:
        # Each slot holds the turn's last point there; only the first slots
        # already hold the next turn's first packet.
        expected = np.zeros(600, np.uint16)
        expected[np.floor(r.angle / 0.6 + 0.5).astype(int) % 600] = r.distance
        assert len(r.frame) == 600 and (r.frame.distance[30:] == expected[30:]).all()

    # The same bytes from a live sensor: the same revolutions, and the start
    # and stop commands acknowledged.
    live_port, live_sim = sim("--replay", stream, "--wait-start", name="live")
    live = []
    with lds.Sensor(live_port, **settings) as sensor:
        sensor.start()
        with pytest.raises(TimeoutError):  # once the stream has been played
            for rev in sensor.revolutions(timeout=1.0):
                live.append(rev)
        sensor.stop()
        assert sensor.link_stats.acks == 2 and sensor.link_stats.crc_errors == 0
    assert rows(live) == rows(recording)
    assert counters(live_sim, tmp_path / "live.stats")["acks"] == 2


CHILD = r"""
import os, sys, lds
sensor = lds.Sensor(sys.argv[1])
try:
    with sensor:
        sensor.start()
        for rev in sensor.revolutions(timeout=None):
            print("revolution", rev.number, flush=True)
except KeyboardInterrupt:
    fds = [os.path.realpath(f"/proc/self/fd/{fd}") for fd in os.listdir("/proc/self/fd")]
    print("interrupted", sensor.is_open, [f for f in fds if f.startswith("/dev/pts/")])
"""


def test_ctrl_c_ends_the_loop_stops_the_sensor_and_closes_the_port(sim, stream, tmp_path):
    # Ctrl-C once the stream has been played, while the loop waits for a
    # revolution that does not come.
    port, proc = sim("--replay", stream, "--wait-start")
    # A test run in the background ignores SIGINT: the child gets Ctrl-C's default back.
    with subprocess.Popen([sys.executable, "-c", CHILD, port], stdout=subprocess.PIPE, text=True,
                          preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)) as child:
        try:
            assert child.stdout.readline() == "revolution 1\n"
            time.sleep(1.0)
            child.send_signal(signal.SIGINT)
            sent = time.monotonic()
            out, _ = child.communicate(timeout=5)
        finally:
            child.kill()
    assert time.monotonic() - sent < 1.0  # a generous bound: bench/python/measure.py measures it
    assert out.splitlines()[-1] == "interrupted False []" and child.returncode == 0
    assert counters(proc, tmp_path / "sim.stats")["acks"] == 2


def test_timeout_lost_port_and_bad_input_end_cleanly(sim, tmp_path, capfd):
    port, proc = sim()
    with lds.Sensor(port) as sensor:
        with pytest.raises(TimeoutError):  # not started: nothing comes
            next(sensor.revolutions(timeout=0.3))
        sensor.start()
        assert next(sensor.revolutions()).number == 1
        proc.kill()
        with pytest.raises(lds.Error, match=f"^lost the port {port}: .+"):
            for _ in sensor.revolutions():
                pass
    assert not sensor.is_open

    silent, _ = sim("--no-ack", name="silent")
    with lds.Sensor(silent) as sensor, pytest.raises(lds.Error, match="did not acknowledge the start command"):
        sensor.start()
    capfd.readouterr()
    with pytest.raises(lds.Error, match="^cannot open /nonexistent/tty: No such file or directory$"):
        lds.Sensor("/nonexistent/tty")
    with pytest.raises(lds.Error, match="^cannot open tcp://127.0.0.1:1: connection refused$"):
        lds.Sensor("tcp://127.0.0.1:1")
    assert capfd.readouterr() == ("", "")  # the reasons are in the exceptions, not on the program's console
    with pytest.raises(lds.Error, match="^cannot read .*missing.raw: No such file or directory$"):
        lds.read_raw(str(tmp_path / "missing.raw"))
    with pytest.raises(ValueError, match="^angle_offset must lie between -360 and 360, not 400$"):
        lds.read_raw(str(tmp_path / "missing.raw"), angle_offset=400)
    with pytest.raises(TypeError, match="unknown setting 'water'"):
        lds.Sensor(silent, water=True)
    with lds.Sensor(silent, water_filter=True, rotation="clockwise") as sensor:
        assert sensor.water_filter and sensor.diff_thr == 120.0 and sensor.rotation == "clockwise"
        with pytest.raises(ValueError):
            sensor.min_range = -1
        assert sensor.min_range == 300
