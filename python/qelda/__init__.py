"""QELDA: read, write and recognise powder X-ray diffraction step scans.

    import qelda
    p = qelda.read("scan.uxd")
    p.two_theta, p.intensity, p.sigma      # NumPy arrays (sigma: None when absent)
    qelda.write(p, "scan.gsa")              # the format from the extension

Failures raise ReadError or WriteError, which carry the status and the reason.
"""
from __future__ import annotations

import os
from typing import List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _qelda
from ._qelda import Pattern, Scan

__all__ = [
    "Pattern", "Scan", "QeldaError", "ReadError", "WriteError", "Format", "Detection",
    "read", "write", "write_bytes", "detect", "formats", "pattern",
]


class QeldaError(Exception):
    """A failed call: `status` names it ("premature_end"), `code` is its number,
    `message` is what the programs show, `reason` says why (may be empty)."""

    def __init__(self, status: str, code: int, message: str, reason: str):
        super().__init__(f"{message}: {reason}" if reason else message)
        self.status = status
        self.code = code
        self.message = message
        self.reason = reason


class ReadError(QeldaError):
    """A file (or bytes) that could not be read."""


class WriteError(QeldaError):
    """A pattern that could not be written."""


class Format(NamedTuple):
    id: int
    name: str
    list_text: str
    extension: str
    reads: bool
    writes: bool


class Detection(NamedTuple):
    format: Optional[str]  # short name, or None when the format cannot be told
    how: str               # "extension .uxd", "content: begins with RAW_"
    error: str             # why no format was told


Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview]


def _three(values, what):
    if values is None:
        return None
    w = tuple(float(v) for v in values)
    if len(w) != 3:
        raise ValueError(f"{what}: three numbers (alpha1, alpha2, ratio) are needed")
    return w


def read(source: Source, *, format: Optional[str] = None, name: Optional[str] = None,
         scan: int = 1, any_axis: bool = False, keep_intensities: bool = False,
         wavelengths: Optional[Sequence[float]] = None, title: Optional[str] = None,
         count_time: Optional[float] = None, header_lines: Optional[int] = None,
         read_sigma: bool = False, override_wavelengths: Optional[Sequence[float]] = None,
         override_title: Optional[str] = None,
         override_count_time: Optional[float] = None,
         to_wavelength: Optional[float] = None,
         resample: Union[float, str, None] = None) -> Pattern:
    """Reads a scan from a file (a path) or from its bytes.

    The format is told as qelda-convert tells it (extension, then content),
    unless `format` names it; `name` is the file name of bytes. The options
    answer what the programs would ask: `wavelengths` (alpha1, alpha2, ratio)
    for formats that hold none, `title`, `count_time`, `header_lines` and
    `read_sigma` for x-y files, `scan` for files that hold several. The
    `override_` ones replace what the file states, with a warning.
    `to_wavelength` re-expresses the scan at that wavelength at equal d;
    `resample` puts it on an even grid of that step ("auto": the median step)
    by linear interpolation. A scan whose angles are stated off one even grid
    keeps them in `two_theta`."""
    options = _qelda.ReadOptions()
    options.format = format or ""
    options.name = name or ""
    options.scan = scan
    options.any_axis = any_axis
    options.keep_intensities = keep_intensities
    options.wavelengths = _three(wavelengths, "wavelengths")
    options.override_wavelengths = _three(override_wavelengths, "override_wavelengths")
    options.override_title = override_title
    options.override_count_time = override_count_time
    options.title = title
    options.count_time = count_time
    options.header_lines = header_lines
    options.read_sigma = read_sigma
    options.to_wavelength = to_wavelength
    options.resample = 0.0 if resample == "auto" else resample
    if isinstance(source, (bytes, bytearray, memoryview)):
        result, error = _qelda.read_bytes(bytes(source), options)
    else:
        result, error = _qelda.read_path(os.fspath(source), options)
    if error is not None:
        raise ReadError(*error)
    return result


def _write_options(write_title: bool, write_sigma: bool, slit_correction: bool, sync: bool,
                   scan: int, axis: str = "2theta") -> "_qelda.WriteOptions":
    options = _qelda.WriteOptions()
    options.write_title = write_title
    options.write_sigma = write_sigma
    options.slit_correction = slit_correction
    options.sync = sync
    options.scan = scan
    options.axis = axis
    return options


def write(pattern: Pattern, path: Union[str, "os.PathLike[str]"], format: Optional[str] = None,
          *, write_title: bool = True, write_sigma: bool = False, slit_correction: bool = False,
          sync: bool = False, scan: int = 1, axis: str = "2theta") -> List[str]:
    """Writes a scan of `pattern` to `path`, in `format` or the one its
    extension names. The file is replaced only by a complete output. Returns
    the warnings of the write. `axis` ("2theta", "d" or "q") is the x of xy,
    xye, cif and json output."""
    path = os.fspath(path)
    if format is None:
        format = _qelda.output_format_of_name(path)
        if not format:
            raise WriteError("unknown_format", 9, "UNKNOWN FORMAT",
                             f"cannot tell an output format from '{path}'; give format=")
    warnings, error = _qelda.write_path(
        pattern, format, path, _write_options(write_title, write_sigma, slit_correction, sync, scan, axis))
    if error is not None:
        raise WriteError(*error)
    return list(warnings)


def write_bytes(pattern: Pattern, format: str, *, write_title: bool = True,
                write_sigma: bool = False, slit_correction: bool = False, scan: int = 1,
                axis: str = "2theta") -> bytes:
    """The bytes `write` would put into a file."""
    data, _warnings, error = _qelda.write_bytes(
        pattern, format, _write_options(write_title, write_sigma, slit_correction, False, scan, axis))
    if error is not None:
        raise WriteError(*error)
    return data


def detect(source: Source, name: Optional[str] = None) -> Detection:
    """The format of a file (or of bytes named `name`), as qelda-convert tells it."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        fmt, how, error = _qelda.detect_bytes(bytes(source), name or "")
    else:
        fmt, how, error = _qelda.detect_path(os.fspath(source))
    return Detection(fmt or None, how, error)


def formats() -> List[Format]:
    """Every format, in the window's list order."""
    return [Format(*f) for f in _qelda.formats()]


def pattern(two_theta, intensity, sigma=None, *, title: str = "",
            wavelengths: Tuple[float, float, float] = (0.0, 0.0, 0.0),
            count_time: float = 0.0) -> Pattern:
    """A pattern of one scan built from arrays, to write."""
    s = Scan()
    s.two_theta = two_theta
    s.intensity = intensity
    s.sigma = sigma
    s.count_time = count_time
    p = Pattern()
    p.title = title
    p.lambda1, p.lambda2, p.alpha_ratio = (float(v) for v in wavelengths)
    p._set_scans([s])
    return p
