import os
from typing import List, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, os.PathLike[str]]
Source = Union[_Path, bytes, bytearray, memoryview]
_Values = Union[npt.ArrayLike, Sequence[float]]

class Scan:
    two_theta: npt.NDArray[np.float64]
    intensity: npt.NDArray[np.float64]
    sigma: Optional[npt.NDArray[np.float64]]
    count_time: float
    def __init__(self) -> None: ...
    def __len__(self) -> int: ...

class Pattern:
    title: str
    format: str
    source: str
    lambda1: float
    lambda2: float
    alpha_ratio: float
    wavelengths: Tuple[float, float, float]
    warnings: List[str]
    def __init__(self) -> None: ...
    @property
    def scans(self) -> List[Scan]: ...
    @property
    def two_theta(self) -> npt.NDArray[np.float64]: ...
    @property
    def intensity(self) -> npt.NDArray[np.float64]: ...
    @property
    def sigma(self) -> Optional[npt.NDArray[np.float64]]: ...
    @property
    def count_time(self) -> float: ...

class QeldaError(Exception):
    status: str
    code: int
    message: str
    reason: str
    def __init__(self, status: str, code: int, message: str, reason: str) -> None: ...

class ReadError(QeldaError): ...
class WriteError(QeldaError): ...

class Format(NamedTuple):
    id: int
    name: str
    list_text: str
    extension: str
    reads: bool
    writes: bool

class Detection(NamedTuple):
    format: Optional[str]
    how: str
    error: str

def read(source: Source, *, format: Optional[str] = ..., name: Optional[str] = ...,
         scan: int = ..., any_axis: bool = ..., keep_intensities: bool = ...,
         wavelengths: Optional[Sequence[float]] = ..., title: Optional[str] = ...,
         count_time: Optional[float] = ..., header_lines: Optional[int] = ...,
         read_sigma: bool = ..., override_wavelengths: Optional[Sequence[float]] = ...,
         override_title: Optional[str] = ...,
         override_count_time: Optional[float] = ..., to_wavelength: Optional[float] = ...,
         resample: Union[float, str, None] = ...) -> Pattern: ...
def write(pattern: Pattern, path: _Path, format: Optional[str] = ..., *,
          write_title: bool = ..., write_sigma: bool = ..., slit_correction: bool = ...,
          sync: bool = ..., scan: int = ..., axis: str = ...) -> List[str]: ...
def write_bytes(pattern: Pattern, format: str, *, write_title: bool = ...,
                write_sigma: bool = ..., slit_correction: bool = ..., scan: int = ...,
                axis: str = ...) -> bytes: ...
def detect(source: Source, name: Optional[str] = ...) -> Detection: ...
def formats() -> List[Format]: ...
def pattern(two_theta: _Values, intensity: _Values, sigma: Optional[_Values] = ..., *,
            title: str = ..., wavelengths: Tuple[float, float, float] = ...,
            count_time: float = ...) -> Pattern: ...
