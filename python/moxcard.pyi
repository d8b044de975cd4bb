# SPDX-License-Identifier: GPL-3.0-or-later
"""A MOX data-acquisition card from Python, through the same card driver
library as moxpanel and moxctl."""
from types import TracebackType
from typing import Any, Iterator, Literal, Optional, Tuple, Type, overload

import numpy as np
import numpy.typing as npt

class DriverError(Exception):
    """The card driver library or one of its entries cannot be had."""

class CardError(Exception):
    """The card did not answer, refused, or did not confirm a write."""

class SetupError(ValueError):
    """A setup file that cannot be read or is refused; names file, line and field."""

class Identity:
    number: int
    type: int
    speed_k: int
    resolution_bits: int

class Link:
    pc_address: str
    expected_pc_address: str
    down_seconds: int
    up: bool
    state: Literal["up", "down"]
    round_trip: float

class Check:
    name: str
    passed: bool
    detail: str
    faults: list[str]
    seconds: float
    metrics: dict[str, float]

class SelfTestResult:
    passed: bool
    checks: list[Check]
    started: str
    def to_dict(self) -> dict[str, Any]: ...
    def to_json(self) -> str: ...
    def to_junit(self) -> str: ...
    def __bool__(self) -> bool: ...

class Channel:
    name: str
    unit: str
    given: bool
    calibrated: bool
    limits: dict[str, float]

class Setup:
    path: str
    digest: str
    calibration_path: str
    inputs: list[Channel]
    outputs: list[Channel]
    columns: list[str]

class Stream(Iterator[Tuple[float, npt.NDArray[Any]]]):
    seq: Optional[int]
    def __iter__(self) -> "Stream": ...
    def __next__(self) -> Tuple[float, npt.NDArray[Any]]: ...

class Card:
    @property
    def identity(self) -> Identity: ...
    @property
    def link(self) -> Link: ...
    @property
    def setup(self) -> Optional[Setup]: ...
    @overload
    def read(self, mode: Literal["volts", "units"] = "volts", mean: int = 0) -> npt.NDArray[np.float64]: ...
    @overload
    def read(self, mode: Literal["codes"], mean: int = 0) -> npt.NDArray[np.int32] | npt.NDArray[np.float64]: ...
    def stream(
        self,
        interval: float = 0.2,
        count: Optional[int] = None,
        mode: Literal["volts", "codes", "units"] = "volts",
        mean: int = 0,
    ) -> Stream: ...
    def da(
        self,
        channel: int,
        *,
        volts: Optional[float] = None,
        code: Optional[int] = None,
        value: Optional[float] = None,
        range: Literal["bipolar", "unipolar"] = "bipolar",
    ) -> int: ...
    def do(self, group: int, byte: int) -> None: ...
    def dobit(self, bit: int, value: int) -> None: ...
    def di(self) -> Tuple[int, int]: ...
    def to_units(self, volts: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
    def beyond_limits(self, values: npt.ArrayLike) -> list[Tuple[str, str]]: ...
    def selftest(self, *, tolerance: float = 0.05, noise: float = 0.05, settle: float = 0.1) -> SelfTestResult: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Card": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...

def open(setup: Optional[str] = None) -> Card: ...
