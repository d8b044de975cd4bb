# SPDX-License-Identifier: GPL-3.0-or-later
"""A card opened with a setup file: inputs in their units, outputs set by a
value in their unit, limits, and a refused file that never reaches the card."""
import math
import time

import numpy as np
import pytest

import moxcard
from conftest import run_child

BENCH = """
version = 1

[AI0]
name = "pressure"
unit = "bar"
scale = { gain = 2.0, offset = 1.0 }
warn_high = 8.0
alarm_high = 9.0

[AI1]
name = "loop"
unit = "mA"
points = [[1.0, 4.0], [5.0, 20.0]]
alarm_low = -40.0

[AO1]
name = "setpoint"
unit = "mA"
points = [[1.0, 4.0], [5.0, 20.0]]
alarm_low = 4.0
alarm_high = 20.0
"""


@pytest.fixture(scope="module")
def bench(tmp_path_factory):
    path = tmp_path_factory.mktemp("setup") / "bench.toml"
    path.write_text(BENCH)
    with moxcard.open(setup=str(path)) as c:
        yield c


def settled_units(card):
    time.sleep(0.1)
    return card.read(mode="units", mean=50)


def test_the_setup_is_described(bench):
    s = bench.setup
    assert s.path.endswith("bench.toml") and len(s.digest) == 64
    assert s.columns[:3] == ["pressure[bar]", "loop[mA]", "AI02[V]"]
    assert len(s.columns) == 32 and len(s.inputs) == 32 and len(s.outputs) == 4
    assert s.inputs[0].limits == {"warn_high": 8.0, "alarm_high": 9.0, "hysteresis": 0.0}
    assert s.inputs[2].limits == {} and not s.inputs[2].given
    assert (s.outputs[1].name, s.outputs[1].unit) == ("setpoint", "mA")


@pytest.mark.parametrize("volts, bar", [(-2.0, -3.0), (0.0, 1.0), (2.0, 5.0), (4.0, 9.0)])
def test_an_input_reads_in_its_unit(bench, volts, bar):
    bench.da(0, volts=volts)
    values = settled_units(bench)
    assert values.dtype == np.float64 and values.shape == (32,)
    assert values[0] == pytest.approx(bar, abs=0.05)
    # An input the file does not give stays in volts.
    assert values[5] == pytest.approx(bench.read(mean=50)[5], abs=0.05)


@pytest.mark.parametrize("milliamps, volts", [(4.0, 1.0), (12.0, 3.0), (19.0, 4.75)])
def test_an_output_is_set_by_its_value_and_read_back(bench, milliamps, volts):
    code = bench.da(1, value=milliamps)
    assert 0 <= code <= 0xFFF
    assert settled_units(bench)[1] == pytest.approx(milliamps, abs=0.1)
    assert bench.read(mean=50)[1] == pytest.approx(volts, abs=0.02)


def test_volts_read_are_converted_as_a_reading_in_units(bench):
    bench.da(0, volts=2.5)
    time.sleep(0.1)
    volts = bench.read(mean=50)
    units = bench.to_units(volts)
    assert units[0] == pytest.approx(2 * volts[0] + 1, abs=1e-9)
    assert units[1] == pytest.approx(4 * volts[1], abs=1e-9)
    assert units[7] == volts[7]


def test_a_stream_in_units(bench):
    bench.da(0, volts=1.0)
    time.sleep(0.1)
    rows = list(bench.stream(interval=0.05, count=3, mode="units", mean=20))
    assert len(rows) == 3
    assert all(v[0] == pytest.approx(3.0, abs=0.05) for _, v in rows)


@pytest.mark.parametrize(
    "values, passed",
    [
        ({0: 1.0}, []),
        ({0: 8.5}, [("pressure", "warn_high")]),
        ({0: 9.5}, [("pressure", "alarm_high")]),
        ({0: 9.5, 1: -50.0}, [("pressure", "alarm_high"), ("loop", "alarm_low")]),
        ({0: math.nan}, []),
    ],
)
def test_levels_a_reading_is_beyond(bench, values, passed):
    reading = np.zeros(32)
    for k, v in values.items():
        reading[k] = v
    assert bench.beyond_limits(reading) == passed


@pytest.mark.parametrize(
    "call, says",
    [
        (lambda c: c.da(1, value=3.0), "alarm_low"),
        (lambda c: c.da(1, value=21.0), "alarm_high"),
        (lambda c: c.da(1, value=math.nan), "finite"),
        (lambda c: c.da(1, code=0), "code 000 gives"),
        (lambda c: c.da(1, volts=-1.0), "setpoint"),
        (lambda c: c.da(1, value=12.0, volts=3.0), "only one"),
        (lambda c: c.da(1, value=12.0, range="both"), "range"),
        (lambda c: c.beyond_limits(np.zeros(31)), "32 inputs"),
        (lambda c: c.to_units(np.zeros((2, 32))), "32 inputs"),
        (lambda c: c.read(mode="amps"), "units"),
    ],
)
def test_values_the_setup_refuses_change_nothing(bench, call, says):
    bench.da(1, value=10.0)
    with pytest.raises(ValueError, match=says):
        call(bench)
    assert settled_units(bench)[1] == pytest.approx(10.0, abs=0.1)


@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.read(mode="units"),
        lambda c: c.stream(mode="units"),
        lambda c: c.da(0, value=1.0),
        lambda c: c.beyond_limits(np.zeros(32)),
        lambda c: c.to_units(np.zeros(32)),
    ],
)
def test_units_need_a_setup(call):
    with moxcard.open() as plain:
        assert plain.setup is None
        with pytest.raises(ValueError, match="setup"):
            call(plain)


@pytest.mark.parametrize(
    "text, named",
    [
        ("version = 1\n[AI0]\nscale = { gain = 0.0 }\n", "bench.toml:3"),
        ("version = 1\n[AI0]\nname = \"a\"\n[AI1]\nname = \"a\"\n", "bench.toml"),
        ("version = 1\n[AI0\n", "bench.toml:2"),
        (None, "bench.toml"),
    ],
)
def test_a_refused_setup_is_named_before_the_driver_is_loaded(tmp_path, text, named):
    path = tmp_path / "bench.toml"
    if text is not None:
        path.write_text(text)
    # No driver library can be found: the setup is read, and refused, first.
    result, proc = run_child(
        f"""
        import json, moxcard
        try:
            moxcard.open(setup={str(path)!r})
            print(json.dumps(["opened", ""]))
        except moxcard.SetupError as e:
            print(json.dumps([type(e).__mro__[1].__name__, str(e)]))
        except moxcard.DriverError as e:
            print(json.dumps(["DriverError", str(e)]))
        """,
        driver_dir=str(tmp_path / "nowhere"),
        PYTHONPATH=run_child.__globals__["MODULE_DIR"],
    )
    assert proc.returncode == 0, proc.stderr
    assert result[0] == "ValueError", result
    assert named in result[1]
