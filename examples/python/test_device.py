# SPDX-License-Identifier: GPL-3.0-or-later
"""A device tested through the card, as a bench engineer writes it: here a
unity-gain buffer between DA0 and AI0 and an enable line from DO bit 1 that
comes back on DI bit 1 (the virtual card's own wiring stands in for it).

    PYTHONPATH=build/python python3 -m pytest examples/python/test_device.py"""
import time

import pytest

import moxcard


@pytest.fixture(scope="module")
def card():
    with moxcard.open() as c:
        assert c.identity.number == 7710, f"not a MOX card: {c.identity}"
        yield c
        c.da(0, volts=0.0)  # the device's input left at 0 V
        c.do(0, 0x00)


@pytest.mark.parametrize("volts", [-4.0, -1.0, 0.0, 1.0, 4.0])
def test_buffer_follows_its_input(card, volts):
    card.da(0, volts=volts)
    time.sleep(0.05)  # the buffer settles
    assert card.read(mean=50)[0] == pytest.approx(volts, abs=0.02)


def test_buffer_output_is_quiet(card):
    card.da(0, volts=2.0)
    time.sleep(0.05)
    readings = [values[0] for _, values in card.stream(interval=0.02, count=20)]
    assert max(readings) - min(readings) < 0.05


@pytest.mark.parametrize("level", [1, 0])
def test_enable_line_reaches_the_device(card, level):
    card.dobit(1, level)
    assert card.di()[0] & 1 == level


def test_card_passes_its_self_test_first(card):
    result = card.selftest()
    assert result.passed, str(result)
