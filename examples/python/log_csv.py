# SPDX-License-Identifier: GPL-3.0-or-later
"""Readings to a CSV file with moxctl log's columns (utc, monotonic_s, seq,
AI00..AI31 in volts; with --setup also each input in its unit and
beyond_limits), so that `pandas.read_csv(path, comment="#",
parse_dates=["utc"])` reads either alike.

    PYTHONPATH=build/python python3 examples/python/log_csv.py out.csv --interval 0.5 --count 20
    PYTHONPATH=build/python python3 examples/python/log_csv.py out.csv --setup examples/bench-setup.toml

A reading the card could not give is left out, never repeated: the times
show the gap, and seq (the number of the row's due time) misses numbers.
Ctrl-C ends the log; rows already written stay written."""
import argparse
import csv
import datetime
import time

import moxcard


def utc_text(unix_seconds):
    """2024-05-01T12:00:00.123Z, as moxctl writes it."""
    t = datetime.datetime.fromtimestamp(unix_seconds, datetime.timezone.utc)
    return t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond // 1000:03d}Z"


def header(card):
    names = ["utc", "monotonic_s", "seq"] + [f"AI{k:02d}" for k in range(32)]
    return names + (card.setup.columns + ["beyond_limits"] if card.setup else [])


def row(card, stamp, elapsed, seq, volts):
    cells = [utc_text(stamp), f"{elapsed:.3f}", str(seq)]
    cells += [f"{v:.8g}" for v in volts]
    if card.setup:
        units = card.to_units(volts)
        cells += [f"{v:.8g}" for v in units]
        cells.append(";".join(f"{name}:{level}" for name, level in card.beyond_limits(units)))
    return cells


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path")
    parser.add_argument("--interval", type=float, default=0.2, help="seconds between rows")
    parser.add_argument("--count", type=int, default=None, help="rows to write; until Ctrl-C without it")
    parser.add_argument("--mean", type=int, default=0, help="samples averaged per row")
    parser.add_argument("--setup", default=None, help="setup file: each input also in its unit, and the limits")
    args = parser.parse_args()

    with moxcard.open(setup=args.setup) as card, open(args.path, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out)
        if card.setup:
            out.write(f"# setup: {card.setup.path}, sha256 {card.setup.digest}\n")
        writer.writerow(header(card))
        start = time.monotonic()
        stream = card.stream(interval=args.interval, count=args.count, mean=args.mean)
        try:
            for stamp, volts in stream:
                writer.writerow(row(card, stamp, time.monotonic() - start, stream.seq, volts))
                out.flush()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
