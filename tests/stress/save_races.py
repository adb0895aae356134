"""save_policy under SIGKILL and concurrent saves, the long runs (the pytest
suite runs the same loops briefly, tests/python/test_policy_save_safety.py):
saving children killed at random moments, on an ordinary file and on a file
with a second hard link; then several processes saving one file while this
one reads it. Exits non-zero when a reader or a killed save left anything
but a whole old or new policy, or when many saves left files behind.

    python3 tests/stress/save_races.py [--kills N] [--seconds S] [--writers W]
"""
import argparse
import os
import random
import signal
import sys
import tempfile
import time

import ferolin

POLICY = {"version": "0.1.0", "scoring_method": "max_prob", "threshold": 0.8,
          "target_error_rate": 0.05, "calibration_method": "empirical",
          "confidence_level": None, "created_by": "ferolin"}
# Both within one 4 KiB page, which a killed write never leaves half-copied.
LONG_POLICY = dict(POLICY, version="x" * 3000)


def policy_bytes(policy, folder):
    path = os.path.join(folder, "reference.json")
    ferolin.save_policy(path, policy)
    with open(path, "rb") as written:
        text = written.read()
    os.unlink(path)
    return text


def saving_forever(path, policies):
    """Forks a child that saves the policies to `path` in turn until killed."""
    pid = os.fork()
    if pid == 0:
        try:
            while True:
                for policy in policies:
                    ferolin.save_policy(path, policy)
        finally:
            os._exit(1)
    return pid


def stop(pids):
    for pid in pids:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)


def kill_saves(folder, kills, hard_link, seed=7):
    """Kills `kills` saving children, each after a random moment; returns the
    torn texts found after a kill and the count and bytes of files left."""
    expected = {policy_bytes(POLICY, folder), policy_bytes(LONG_POLICY, folder)}
    path = os.path.join(folder, "p.json")
    ferolin.save_policy(path, POLICY)
    names = {"p.json"}
    if hard_link:
        os.link(path, os.path.join(folder, "other-name.json"))
        names.add("other-name.json")
    rng = random.Random(seed)
    torn, leftovers, leftover_bytes = [], 0, 0
    for _ in range(kills):
        pid = saving_forever(path, [LONG_POLICY, POLICY])
        time.sleep(rng.uniform(0, 0.004))
        stop([pid])
        with open(path, "rb") as saved:
            text = saved.read()
        # In place a killed save may leave the new text padded with spaces,
        # which loads as the new policy.
        if text.rstrip(b" ") not in expected:
            torn.append(text)
        for extra in set(os.listdir(folder)) - names:
            leftovers += 1
            leftover_bytes += os.path.getsize(os.path.join(folder, extra))
            os.unlink(os.path.join(folder, extra))
    return torn, leftovers, leftover_bytes


def read_during_saves(folder, seconds, writers):
    """Reads one file while `writers` processes save it; returns the count
    of reads and the texts that were neither policy."""
    expected = {policy_bytes(POLICY, folder), policy_bytes(LONG_POLICY, folder)}
    path = os.path.join(folder, "p.json")
    ferolin.save_policy(path, POLICY)
    pids = [saving_forever(path, [LONG_POLICY, POLICY][::1 if i % 2 else -1])
            for i in range(writers)]
    reads, wrong = 0, []
    try:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            with open(path, "rb") as saved:
                text = saved.read()
            if text not in expected:
                wrong.append(text)
            reads += 1
    finally:
        stop(pids)
    return reads, wrong


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kills", type=int, default=300)
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--writers", type=int, default=4)
    args = parser.parse_args()
    failed = False
    for hard_link in (False, True):
        with tempfile.TemporaryDirectory(prefix="ferolin-save-") as folder:
            start = time.monotonic()
            torn, leftovers, size = kill_saves(folder, args.kills, hard_link)
            name = "a file with two hard links" if hard_link else "an ordinary file"
            print(f"{args.kills} killed saves to {name}: {len(torn)} torn, {leftovers} files "
                  f"left ({size} bytes), {time.monotonic() - start:.1f} s", flush=True)
            failed = failed or bool(torn) or leftovers > args.kills // 20
    with tempfile.TemporaryDirectory(prefix="ferolin-save-") as folder:
        reads, wrong = read_during_saves(folder, args.seconds, args.writers)
        print(f"{reads} reads during {args.seconds:g} s of saves by {args.writers} processes: "
              f"{len(wrong)} neither policy ({sum(not text for text in wrong)} empty)")
        failed = failed or bool(wrong)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
