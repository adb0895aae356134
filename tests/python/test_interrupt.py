"""Ctrl-C and threads: the module functions read and compute without the
interpreter's lock and check in with it every few megabytes and whenever a
signal interrupts a wait, so that a signal's exception ends the call at once.
The signals are real ones, sent from this process to a child process."""
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import ferolin
from conftest import candidate, table_text
from ferolin_tools import _native

POLICY = {"version": "0.1.0", "scoring_method": "margin", "threshold": 0.1,
          "target_error_rate": 0.05, "calibration_method": "empirical",
          "confidence_level": None, "created_by": "ferolin"}

# Opens the FIFO as a writer and writes rows into it for as long as it has a
# reader, as fast as the reader takes them: a table without end. "gzip"
# writes them as one endless gzip member; "gzip-stalls" writes part of one
# member and then waits, as a slow producer does.
ENDLESS_WRITER = """
import os, sys, time, zlib
fd = os.open(sys.argv[1], os.O_WRONLY)
packer = zlib.compressobj(1, wbits=31) if sys.argv[2] != "plain" else None
def write(data):
    os.write(fd, packer.compress(data) + packer.flush(zlib.Z_SYNC_FLUSH) if packer else data)
write(b"query_id,candidate_id,rank,score,probability,is_correct\\n")
rows = [f"q{i % 5000},c{i},{1 + i % 4},{i % 97 / 7:.3f},{i % 89 / 89:.3f},"
        f"{'true' if i % 3 else ''}\\n" for i in range(20000)]
block = "".join(rows).encode()
try:
    while True:
        write(block)
        if sys.argv[2] == "gzip-stalls":
            time.sleep(3600)
except BrokenPipeError:
    pass
"""


def small_table(tmp_path, name="small.csv", queries=50, offset=0):
    rows = []
    for q in range(queries):
        for rank in (1, 2, 3):
            score = ((q * 7 + rank * 13 + offset) % 31) / 3.0 + (3 - rank)
            rows.append(candidate(f"q{q}", rank, score, score / 40,
                                  rank == 1 and (q + offset) % 3 != 0))
    path = tmp_path / name
    path.write_text(table_text(rows))
    return str(path)


def fifo_and_table(tmp_path, name):
    """A FIFO that nobody has opened yet, and a small table."""
    fifo = tmp_path / name
    os.mkfifo(fifo)
    return str(fifo), small_table(tmp_path)


def start_child(body, *arguments):
    """A Python process that prints "ready", runs `body`, then a small call to
    show it is still usable, and prints what happened. It is killed after 30
    seconds, whatever it waits for."""
    script = textwrap.dedent("""
        import sys, time, ferolin
        POLICY = {policy!r}
        print("ready", flush=True)
        try:
        {body}
            print("returned", flush=True)
        except BaseException as error:
            print(type(error).__name__, str(error), flush=True)
        print("usable", len(ferolin.compute_curve(sys.argv[1], "margin")), flush=True)
    """).format(policy=POLICY, body=textwrap.indent(textwrap.dedent(body), "    "))
    child = subprocess.Popen([sys.executable, "-c", script, *arguments], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    child.watchdog = threading.Timer(30, child.kill)
    child.watchdog.daemon = True
    child.watchdog.start()
    assert child.stdout.readline() == "ready\n", child.stderr.read()
    return child


def rest_of_output(child):
    """What the child prints until it ends, its errors last."""
    with child:
        rest = child.stdout.read() + child.stderr.read()
    child.watchdog.cancel()
    return rest


def signal_and_wait(child, signum, delay=0.5):
    """Sends `signum` to the child after `delay` seconds; returns the line the
    child printed about its call, the seconds from the signal to that line,
    and the rest of its output."""
    time.sleep(delay)
    sent = time.monotonic()
    child.send_signal(signum)
    line = child.stdout.readline().strip()
    elapsed = time.monotonic() - sent
    return line, elapsed, rest_of_output(child)


CALLS_ON_A_FIFO = {
    "compute_curve": "ferolin.compute_curve(sys.argv[2], 'margin')",
    "calibrate": "ferolin.calibrate(sys.argv[2], 'margin', 0.1)",
    "apply_policy": "ferolin.apply_policy(sys.argv[2], POLICY)",
    "load_policy": "ferolin.load_policy(sys.argv[2])",
    # Opening a FIFO for writing waits for a reader.
    "save_policy": "ferolin.save_policy(sys.argv[2], POLICY)",
    "_native.run_pass": "import ferolin_tools._native as n; n.run_pass(sys.argv[2], ['margin'])",
    "_native.read_policy": "import ferolin_tools._native as n; n.read_policy(sys.argv[2])",
    "_native.read_score_tables":
        "import ferolin_tools._native as n; n.read_score_tables([sys.argv[2]])",
    "_native.write_policy":
        "import ferolin_tools._native as n; n.write_policy(sys.argv[2], POLICY)",
}


@pytest.mark.parametrize("call", CALLS_ON_A_FIFO)
def test_ctrl_c_stops_a_call_waiting_on_a_fifo(tmp_path, call):
    fifo, table = fifo_and_table(tmp_path, "other_end_never_comes")
    child = start_child(CALLS_ON_A_FIFO[call], table, fifo)
    line, elapsed, rest = signal_and_wait(child, signal.SIGINT)
    assert line == "KeyboardInterrupt", rest
    assert elapsed < 1.0
    assert rest.startswith(f"usable {len(ferolin.compute_curve(table, 'margin'))}\n"), rest


# Plain tables are read by the module ferolin; compressed ones only by
# ferolin_tools, whose reader inflates on a thread of its own.
LONG_READS = {
    "plain": "ferolin.compute_curve(sys.argv[2], 'margin')",
    "gzip": "import ferolin_tools._native as n; n.run_pass(sys.argv[2], ['margin'])",
    "gzip-stalls": "import ferolin_tools._native as n; n.run_pass(sys.argv[2], ['margin'])",
}


@pytest.mark.parametrize("writing", LONG_READS)
def test_ctrl_c_stops_a_long_read(tmp_path, writing):
    fifo, table = fifo_and_table(tmp_path, "endless.csv")
    writer = subprocess.Popen([sys.executable, "-c", ENDLESS_WRITER, fifo, writing],
                              stderr=subprocess.DEVNULL)
    try:
        child = start_child(LONG_READS[writing], table, fifo)
        # Well into the read: a few hundred megabytes.
        line, elapsed, rest = signal_and_wait(child, signal.SIGINT, delay=1.5)
    finally:
        writer.kill()
        writer.wait()
    assert line == "KeyboardInterrupt", rest
    assert elapsed < 1.0
    assert rest.startswith("usable"), rest


def test_the_exception_of_another_handler_propagates(tmp_path):
    fifo, table = fifo_and_table(tmp_path, "no_writer")
    body = """
        import signal
        def stop(signum, frame):
            raise LookupError("raised by the handler")
        signal.signal(signal.SIGUSR1, stop)
        ferolin.compute_curve(sys.argv[2], 'margin')
    """
    child = start_child(body, table, fifo)
    line, _, rest = signal_and_wait(child, signal.SIGUSR1)
    assert line == "LookupError raised by the handler", rest


def test_a_handler_that_returns_lets_the_call_go_on(tmp_path):
    fifo, table = fifo_and_table(tmp_path, "late_writer.csv")
    body = """
        import signal
        seen = []
        signal.signal(signal.SIGUSR1, lambda signum, frame: seen.append(signum))
        curve = ferolin.compute_curve(sys.argv[2], 'margin')
        print(len(seen), len(curve), flush=True)
    """
    child = start_child(body, table, fifo)
    time.sleep(0.3)
    child.send_signal(signal.SIGUSR1)
    time.sleep(0.3)
    with open(fifo, "w") as handle, open(table) as source:
        handle.write(source.read())
    out = rest_of_output(child)
    assert out.splitlines()[0] == f"1 {len(ferolin.compute_curve(table, 'margin'))}", out


def test_the_lock_is_free_while_a_call_waits(tmp_path):
    # A thread waits for the FIFO's writer, which is this process's main
    # thread: were the lock held meanwhile, the writer could never run.
    fifo, table = fifo_and_table(tmp_path, "t.csv")
    body = """
        import threading
        result = []
        reader = threading.Thread(
            target=lambda: result.append(ferolin.compute_curve(sys.argv[2], 'margin')))
        reader.start()
        with open(sys.argv[2], 'w') as handle, open(sys.argv[1]) as table:
            handle.write(table.read())
        reader.join()
        print(len(result[0]), flush=True)
    """
    child = start_child(body, table, fifo)
    out = rest_of_output(child)
    assert out.splitlines()[0] == str(len(ferolin.compute_curve(table, "margin"))), out


def in_two_threads(work):
    """Runs work(0) and work(1) at once, on two threads."""
    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def test_two_threads_on_two_tables_get_their_own_results(tmp_path):
    tables = [small_table(tmp_path, f"t{i}.csv", queries=3000, offset=i) for i in range(2)]
    expected = [(ferolin.compute_curve(t, "margin"), ferolin.apply_policy(t, POLICY),
                 ferolin.calibrate(t, "entropy", 0.2)) for t in tables]
    results = [[] for _ in tables]

    def work(i):
        for _ in range(20):
            results[i].append((ferolin.compute_curve(tables[i], "margin"),
                               ferolin.apply_policy(tables[i], POLICY),
                               ferolin.calibrate(tables[i], "entropy", 0.2)))

    in_two_threads(work)
    assert expected[0] != expected[1]
    for i in range(2):
        assert results[i] == [expected[i]] * 20


def test_two_threads_on_one_pass_get_the_same_curves(tmp_path):
    table = small_table(tmp_path, queries=20000)
    methods = ["margin", "entropy", "score-gap", "max-prob"] * 4
    expected = [_native.run_pass(table, [m]).query_pass.curve(0) for m in methods[:4]]
    for _ in range(5):
        # A new pass each round: its curves are computed on first use.
        shared = _native.run_pass(table, methods).query_pass
        results = [[], []]

        def work(i, shared=shared, results=results):
            order = range(len(methods)) if i == 0 else reversed(range(len(methods)))
            for m in order:
                results[i].append((m, shared.curve(m)))

        in_two_threads(work)
        for result in results:
            assert all(curve == expected[m % 4] for m, curve in result)
