# SPDX-License-Identifier: GPL-3.0-or-later
"""The moxcard module on the virtual card, on the emulator through the
network driver, and on the fault-injecting test driver."""
import json
import math
import os
import shutil
import threading
import time

import numpy as np
import pytest

import moxcard
from conftest import FAKE_DIR, FAKE_NOINITIAL_DIR, FAULT_DIR, VIRTUAL_DIR, child_line, run_child, start_child


@pytest.fixture(scope="module")
def card():
    with moxcard.open() as c:
        yield c


# ---- The virtual card ----

def test_identity_and_link(card):
    assert card.identity.number == 7710
    assert card.identity.resolution_bits == 16
    assert "card 7710" in str(card.identity)
    link = card.link
    assert link.up and link.state == "up"
    assert link.pc_address == link.expected_pc_address
    assert "7710" in repr(card) and "the virtual card" in repr(card)


@pytest.mark.parametrize(
    "mode, mean, dtype, low, high",
    [
        ("volts", 0, np.float64, -5.0, 5.0),
        ("volts", 20, np.float64, -5.0, 5.0),
        ("codes", 0, np.int32, 0, 65535),
        ("codes", 20, np.float64, 0, 65535),
    ],
)
def test_read_shapes_and_ranges(card, mode, mean, dtype, low, high):
    values = card.read(mode=mode, mean=mean)
    assert values.shape == (32,)
    assert values.dtype == dtype
    assert values.min() >= low and values.max() <= high
    if mode == "codes" and mean:
        # A mean keeps its fraction: the moving inputs are not whole codes.
        assert np.any(values != np.round(values))


@pytest.mark.parametrize("channel, volts", [(0, -4.0), (1, -1.5), (2, 0.0), (3, 3.25)])
def test_da_loops_back_to_its_input(card, channel, volts):
    code = card.da(channel, volts=volts)
    assert 0 <= code <= 0xFFF
    time.sleep(0.1)
    assert card.read(mean=20)[channel] == pytest.approx(volts, abs=0.02)


def test_da_unipolar_and_code(card):
    card.da(0, volts=7.5, range="unipolar")  # 7.5 V of 0..10 V comes out as 2.5 V of -5..5
    time.sleep(0.1)
    assert card.read(mean=20)[0] == pytest.approx(2.5, abs=0.02)
    assert card.da(1, code=0x800) == 0x800
    time.sleep(0.1)
    assert card.read(mean=20)[1] == pytest.approx(0.0, abs=0.02)


@pytest.mark.parametrize("group, byte", [(0, 0x00), (0, 0xA5), (1, 0xFF), (1, 0x3C)])
def test_do_loops_back_to_di(card, group, byte):
    card.do(group, byte)
    assert card.di()[group] == byte


def test_dobit_sets_one_line(card):
    card.do(1, 0x00)
    card.dobit(16, 1)
    card.dobit(9, 1)
    assert card.di()[1] == 0x81
    card.dobit(16, 0)
    assert card.di()[1] == 0x01


def test_stream_gives_count_fresh_readings_on_time(card):
    stream = card.stream(interval=0.05, count=5, mode="codes")
    assert stream.seq is None
    rows = []
    seqs = []
    for row in stream:
        rows.append(row)
        seqs.append(stream.seq)
    assert len(rows) == 5
    assert seqs == sorted(set(seqs)) and seqs[0] == 0
    times = [t for t, _ in rows]
    assert all(b > a for a, b in zip(times, times[1:]))
    assert all(a.shape == (32,) and a.dtype == np.int32 for _, a in rows)
    assert abs(times[0] - time.time()) < 5


def test_stream_ends_cleanly_on_break(card):
    for n, (_, values) in enumerate(card.stream(interval=0.02)):
        if n == 2:
            break
    assert card.read().shape == (32,)


def test_one_card_from_several_threads(card):
    errors = []

    def work():
        try:
            for _ in range(20):
                assert card.read("codes").shape == (32,)
                assert len(card.di()) == 2
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def test_selftest_passes_on_the_virtual_card(card):
    result = card.selftest(settle=0.02)
    assert result.passed and bool(result)
    names = [c.name for c in result.checks]
    assert names[0] == "identity" and "digital loop DO -> DI" in names
    d = result.to_dict()
    assert d["passed"] is True and len(d["checks"]) == len(names)
    assert json.loads(result.to_json())["checks"][0]["name"] == "identity"
    assert "selftest: PASS" in str(result)


# ---- Arguments refused before anything reaches the card ----

@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.da(4, volts=0),
        lambda c: c.da(-1, code=0),
        lambda c: c.da(0, code=0x1000),
        lambda c: c.da(0, code=-1),
        lambda c: c.da(0, volts=math.nan),
        lambda c: c.da(0, volts=math.inf),
        lambda c: c.da(0, volts=5.01),
        lambda c: c.da(0, volts=-0.1, range="unipolar"),
        lambda c: c.da(0, volts=1, range="both"),
        lambda c: c.da(0),
        lambda c: c.da(0, volts=1, code=1),
        lambda c: c.do(2, 0),
        lambda c: c.do(0, 0x100),
        lambda c: c.dobit(0, 1),
        lambda c: c.dobit(17, 1),
        lambda c: c.dobit(1, 2),
        lambda c: c.read(mode="amps"),
        lambda c: c.read(mean=-1),
        lambda c: c.read(mean=65537),
        lambda c: c.stream(interval=0),
        lambda c: c.stream(interval=math.nan),
        lambda c: c.stream(count=-1),
        lambda c: c.selftest(tolerance=0),
    ],
)
def test_bad_arguments_raise_value_error_and_change_nothing(card, call):
    card.da(0, code=0x123)
    card.do(0, 0x5A)
    with pytest.raises(ValueError):
        call(card)
    time.sleep(0.05)
    assert card.di()[0] == 0x5A
    assert isinstance(card.di(), tuple)
    assert card.read(mean=10)[0] == pytest.approx(-5 + 0x123 * 10 / 4096, abs=0.02)


def test_a_closed_card_refuses():
    c = moxcard.open()
    c.read()
    c.close()
    with pytest.raises(moxcard.CardError, match="closed"):
        c.read()
    assert "closed" in repr(c)


# ---- The driver library ----

@pytest.mark.parametrize("where, named", [("library", "libadcard.so"), ("entry", "Initial")])
def test_a_missing_driver_raises_driver_error_naming_it(tmp_path, where, named):
    # The module finds the bundled card through its RUNPATH ($ORIGIN/../lib):
    # a copy elsewhere has none, and the test driver without Initial lacks
    # the entry the card is opened with.
    copy = tmp_path / "python"
    copy.mkdir()
    shutil.copy(moxcard.__file__, copy)
    driver_dir = str(tmp_path) if where == "library" else FAKE_NOINITIAL_DIR
    result, proc = run_child(
        """
        import json, moxcard
        try:
            moxcard.open()
            print(json.dumps("opened"))
        except moxcard.DriverError as e:
            print(json.dumps(str(e)))
        """,
        driver_dir=driver_dir,
        PYTHONPATH=str(copy),
    )
    assert proc.returncode == 0, proc.stderr
    assert named in result


@pytest.mark.parametrize(
    "address, error, named",
    [
        ("nonsense", "ValueError", 'MOX_CARD_ADDRESS="nonsense"'),
        ("127.0.0.1:99999", "ValueError", "127.0.0.1:99999"),
        ("127.0.0.1:1", "CardError", "the card at 127.0.0.1:1"),
    ],
)
def test_a_card_address_is_named_when_it_fails(address, error, named):
    result, proc = run_child(
        """
        import json, moxcard
        try:
            moxcard.open()
            print(json.dumps(["opened", ""]))
        except (ValueError, moxcard.CardError) as e:
            print(json.dumps([type(e).__name__, str(e)]))
        """,
        MOX_CARD_ADDRESS=address,
    )
    assert proc.returncode == 0, proc.stderr
    assert result[0] == error and named in result[1], result


def test_a_driver_not_built_here_is_not_called_a_network_card():
    # Only our driver sends to MOX_CARD_ADDRESS; the test driver ignores it.
    result, proc = run_child(
        """
        import json, moxcard
        print(json.dumps(repr(moxcard.open())))
        """,
        driver_dir=FAKE_DIR,
        MOX_CARD_ADDRESS="1.2.3.4:7710",
    )
    assert proc.returncode == 0, proc.stderr
    assert "1.2.3.4" not in result and FAKE_DIR.split(os.sep)[-1] in result, result


@pytest.mark.parametrize("where", ["library folder", "card address"])
def test_a_message_with_bytes_not_utf8_is_kept(tmp_path, where):
    # A folder named in a legacy encoding, or such an address: the message
    # names it with the odd byte escaped rather than coming up empty.
    env = {}
    driver_dir = VIRTUAL_DIR
    if where == "library folder":
        folder = os.path.join(os.fsencode(str(tmp_path)), b"bad\xff")
        os.mkdir(folder)
        shutil.copy(os.path.join(FAKE_NOINITIAL_DIR, "libadcard.so"), os.fsdecode(folder))
        driver_dir = os.fsdecode(folder)
    else:
        env["MOX_CARD_ADDRESS"] = os.fsdecode(b"1.2.3.4:77\xff")
    result, proc = run_child(
        """
        import json, moxcard
        try:
            moxcard.open()
            print(json.dumps(["opened", ""]))
        except (moxcard.DriverError, ValueError) as e:
            print(json.dumps([type(e).__name__, str(e)]))
        """,
        driver_dir=driver_dir,
        **env,
    )
    assert proc.returncode == 0, proc.stderr
    kind, text = result
    assert kind == ("DriverError" if where == "library folder" else "ValueError"), result
    assert "\\xff" in text and ("Initial" in text or "MOX_CARD_ADDRESS" in text), result


# ---- The fault-injecting driver ----

@pytest.mark.parametrize(
    "fault, found",
    [("stuck:3:1", "3"), ("short:2:5", "5")],
)
def test_selftest_names_the_injected_fault(fault, found):
    result, proc = run_child(
        """
        import json, moxcard
        with moxcard.open() as c:
            r = c.selftest(settle=0.02)
            print(json.dumps(r.to_dict()))
        """,
        driver_dir=FAULT_DIR,
        MOX_TEST_FAULT=fault,
    )
    assert proc.returncode == 0, proc.stderr
    assert result["passed"] is False
    digital = [c for c in result["checks"] if c["name"].startswith("digital")][0]
    assert not digital["passed"]
    assert any(found in f for f in digital["faults"]), digital["faults"]
    assert all(c["passed"] for c in result["checks"] if c["name"].startswith("analog"))


# ---- The emulator on the network ----

def test_outage_raises_card_error_in_bounded_time_then_reads_again(emulator):
    child = start_child(
        """
        import json, sys, time, moxcard
        c = moxcard.open()
        c.read()
        print("ready", flush=True)
        sys.stdin.readline()
        t = time.monotonic()
        try:
            c.read()
            error = None
        except moxcard.CardError as e:
            error = str(e)
        took = time.monotonic() - t
        time.sleep(3)
        after = c.read().shape
        print(json.dumps({"error": error, "took": took, "after": list(after)}))
        """,
        MOX_CARD_ADDRESS=emulator.address,
    )
    try:
        assert child_line(child) == "ready"
        emulator.command("silent 4")
        time.sleep(0.5)  # the emulator has taken the command; a reading from before may still be served
        child.stdin.write("go\n")
        child.stdin.flush()
        result = json.loads(child_line(child))
    finally:
        child.kill()
        child.wait()
    assert result["error"] and "no reading" in result["error"]
    assert result["took"] < 6
    assert result["after"] == [32]


def test_stream_leaves_a_gap_not_a_burst(emulator):
    child = start_child(
        """
        import json, time, moxcard
        c = moxcard.open()
        rows = []
        start = time.monotonic()
        stream = c.stream(interval=0.1)
        for t, values in stream:
            if not rows:
                print("streaming", flush=True)
            rows.append((time.monotonic(), values.tolist(), stream.seq))
            if time.monotonic() - start > 5:
                break
        print(json.dumps(rows))
        """,
        MOX_CARD_ADDRESS=emulator.address,
    )
    try:
        assert child_line(child) == "streaming"
        time.sleep(1)
        emulator.command("silent 1.5")
        rows = json.loads(child_line(child))
    finally:
        child.kill()
        child.wait()
    times = [t for t, _, _ in rows]
    gaps = [b - a for a, b in zip(times, times[1:])]
    assert max(gaps) > 1.2
    after = gaps[gaps.index(max(gaps)) + 1 :]
    assert after and min(after) > 0.05
    assert all(a != b for (_, a, _), (_, b, _) in zip(rows, rows[1:]))
    # The rows the outage cost leave their numbers out.
    seqs = [s for _, _, s in rows]
    steps = [b - a for a, b in zip(seqs, seqs[1:])]
    assert min(steps) >= 1 and max(steps) >= 12
