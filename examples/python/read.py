# SPDX-License-Identifier: GPL-3.0-or-later
# The 32 inputs in volts, once. Run: PYTHONPATH=build/python python3 examples/python/read.py
import moxcard

with moxcard.open() as card:
    print(card.identity, card.read(mean=20))
