# SPDX-License-Identifier: GPL-3.0-or-later
"""What the moxcard tests share: the build's folders, a Python child with
its own card driver (a process loads one driver, once), and the emulator."""
import json
import os
import re
import subprocess
import sys
import textwrap

import pytest

BUILD = os.environ.get("MOX_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
EMULATOR = os.path.join(BUILD, "bin", "mox-card-emulator")
VIRTUAL_DIR = os.path.join(BUILD, "lib")
FAULT_DIR = os.path.join(BUILD, "tests", "fault_card")
FAKE_NOINITIAL_DIR = os.path.join(BUILD, "tests", "fake_noinitial")
FAKE_DIR = os.path.join(BUILD, "tests", "fake")
MODULE_DIR = os.path.join(BUILD, "python")


def run_child(code, driver_dir=VIRTUAL_DIR, timeout=60, **env):
    """Runs `code` in a fresh interpreter (the one running the tests) with
    the card driver of `driver_dir`; returns what it printed as JSON on its
    last line, and the completed process."""
    child_env = dict(os.environ, PYTHONPATH=MODULE_DIR, LD_LIBRARY_PATH=driver_dir)
    child_env.update(env)
    proc = subprocess.run(
        [sys.executable, "-P", "-c", textwrap.dedent(code)],
        env=child_env,
        capture_output=True,
        text=True,
        timeout=timeout,
        check=False,
    )
    lines = proc.stdout.strip().splitlines()
    result = json.loads(lines[-1]) if proc.returncode == 0 and lines else None
    return result, proc


class Emulator:
    """mox-card-emulator on a free port, fed commands on its standard input."""

    def __init__(self):
        self.proc = subprocess.Popen(
            [EMULATOR, "--port", "0", "--exit-with-stdin"],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            text=True,
        )
        line = self.proc.stdout.readline()
        match = re.search(r"listening on ([0-9.]+:[0-9]+)", line)
        assert match, f"emulator said {line!r}"
        self.address = match.group(1)

    def command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def close(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def emulator():
    emu = Emulator()
    yield emu
    emu.close()


def start_child(code, driver_dir=VIRTUAL_DIR, **env):
    """Like run_child, but running: the test talks to it line by line."""
    child_env = dict(os.environ, PYTHONPATH=MODULE_DIR, LD_LIBRARY_PATH=driver_dir, **env)
    return subprocess.Popen(
        [sys.executable, "-P", "-c", textwrap.dedent(code)],
        env=child_env,
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )


def child_line(proc):
    line = proc.stdout.readline()
    if not line:
        raise AssertionError(f"child ended: {proc.stderr.read()}")
    return line.strip()
