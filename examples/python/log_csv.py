# SPDX-License-Identifier: GPL-3.0-or-later
"""Readings to a CSV file with moxctl's columns (utc, monotonic_s, AI00..AI31),
so that `pandas.read_csv(path, parse_dates=["utc"])` reads either alike.

    PYTHONPATH=build/python python3 examples/python/log_csv.py out.csv --interval 0.5 --count 20

A reading the card could not give is left out, never repeated: the times
show the gap. Ctrl-C ends the log; rows already written stay written."""
import argparse
import csv
import datetime
import time

import moxcard


def utc_text(unix_seconds):
    """2024-05-01T12:00:00.123Z, as moxctl writes it."""
    t = datetime.datetime.fromtimestamp(unix_seconds, datetime.timezone.utc)
    return t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond // 1000:03d}Z"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path")
    parser.add_argument("--interval", type=float, default=0.2, help="seconds between rows")
    parser.add_argument("--count", type=int, default=None, help="rows to write; until Ctrl-C without it")
    parser.add_argument("--mean", type=int, default=0, help="samples averaged per row")
    args = parser.parse_args()

    start = time.monotonic()
    with moxcard.open() as card, open(args.path, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out)
        writer.writerow(["utc", "monotonic_s"] + [f"AI{k:02d}" for k in range(32)])
        try:
            for stamp, volts in card.stream(interval=args.interval, count=args.count, mean=args.mean):
                writer.writerow([utc_text(stamp), f"{time.monotonic() - start:.3f}"] + [f"{v:.8g}" for v in volts])
                out.flush()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
