"""The Python module against the command line: each value of a read equals
what `qelda-convert -t json` prints for the same file."""
import json
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import qelda

SOURCE = Path(__file__).resolve().parents[2]
SAMPLES = Path(os.environ.get("QELDA_SAMPLES_DIR", SOURCE.parent / "shared" / "samples"))
CONVERT = os.environ.get("QELDA_CONVERT", str(SOURCE / "build" / "qelda-convert"))
EXAMPLES = SOURCE / "examples"

# Files of every reader: in the repository, then real ones (skipped when absent).
TABLE = [
    ("examples", "quartz.uxd"), ("examples", "quartz.gsa"), ("examples", "quartz.raw"),
    ("examples", "quartz.dbw"), ("examples", "quartz.asc"), ("examples", "quartz.ard"),
    ("samples", "uxd/sample1.uxd"), ("samples", "uxd/BT86_.UXD"),
    ("samples", "udf/ZEOLITE.UDF"), ("samples", "stoe_raw/LA_P-37cd_DUT-52(Zr)_act_EtOH.raw"),
    ("samples", "gsas/2amino.gda"), ("samples", "gsas/11bmb_0842.fxye"),
    ("samples", "pdcif/1517474.cif"), ("samples", "xy/Ba6Co6.xye"),
    ("samples", "xrdml/empyrean.xrdml"), ("samples", "bruker_raw/BT86.raw"),
    ("samples", "brml/BaZrS3.brml"), ("samples", "ras/inas_layer_radial_002_004.ras"),
    ("samples", "rasx/TwoTheta_scan_powder.rasx"),
]


def path_of(where, name):
    p = (EXAMPLES if where == "examples" else SAMPLES) / name
    if not p.exists():
        pytest.skip(f"{p} absent")
    return p


def cli_json(path, *options):
    run = subprocess.run([CONVERT, "-q", "-t", "json", *options, str(path), "-"],
                         capture_output=True, check=False)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    return json.loads(run.stdout)


def f32(v):
    return np.float32(v)


@pytest.mark.parametrize("where,name", TABLE)
def test_read_equals_the_command_line(where, name):
    path = path_of(where, name)
    expected = cli_json(path)
    p = qelda.read(path)
    assert p.title == expected["title"]
    assert p.format == expected["format"]
    for key in ("lambda1", "lambda2", "alpha_ratio"):
        assert f32(getattr(p, key)) == f32(expected[key]), key
    assert p.wavelengths == (p.lambda1, p.lambda2, p.alpha_ratio)
    assert f32(p.count_time) == f32(expected["count_time"])
    assert len(p.intensity) == expected["point_count"] == len(p.two_theta)
    assert p.warnings == expected["warnings"]
    assert f32(p.two_theta[0]) == f32(expected["two_theta_start"])
    if len(p.two_theta) > 1:
        assert f32(p.two_theta[1] - p.two_theta[0]) == pytest.approx(
            f32(expected["two_theta_step"]), rel=1e-6)
    np.testing.assert_array_equal(p.intensity.astype(np.float32),
                                  np.array(expected["intensity"], dtype=np.float32))
    if "sigma" in expected:
        np.testing.assert_array_equal(p.sigma.astype(np.float32),
                                      np.array(expected["sigma"], dtype=np.float32))
    else:
        assert p.sigma is None
    assert len(p.scans) == 1 and len(p.scans[0]) == len(p.intensity)


def test_options_equal_the_command_line_options(tmp_path):
    xy = b"# two header lines\n# x y e\n10 4 2\n10.5 9 3\n11 0 1\n"
    src = tmp_path / "options_case.xy"
    src.write_bytes(xy)
    expected = cli_json(src, "--read-sigma", "--title", "T", "--count-time", "3",
                        "--wavelengths", "1.2,0,0", "--keep-intensities")
    p = qelda.read(xy, name="options_case.xy", read_sigma=True, title="T", count_time=3,
                   wavelengths=(1.2, 0, 0), keep_intensities=True)
    assert (p.title, p.lambda1, p.count_time) == (expected["title"], 1.2, 3.0)
    assert list(p.intensity) == expected["intensity"] == [4, 9, 0]
    assert list(p.sigma) == expected["sigma"]


def test_arrays_are_views_of_the_pattern():
    p = qelda.read(EXAMPLES / "quartz.uxd")
    a = p.intensity
    assert not a.flags.owndata
    assert np.shares_memory(a, p.scans[0].intensity)
    del p  # the array keeps the pattern alive
    assert a.sum() > 0


@pytest.mark.parametrize("source,options,status,phrase", [
    (SOURCE / "no-such-file.uxd", {}, "open_failed", "no-such-file.uxd"),
    (b"hello\n", {"name": "a.uxd"}, "not_available", "a.uxd"),
    (b"1 2\n", {"format": "nonesuch"}, "unknown_format", "nonesuch"),
    (b"1 2\n3 4\n", {"name": "a.xy", "scan": 0}, "invalid_argument", "scan"),
    (b"1 2\n3 4\n", {"name": "a.xy", "wavelengths": (0, 0, 0)}, "invalid_argument", "alpha1"),
])
def test_read_errors(source, options, status, phrase):
    with pytest.raises(qelda.ReadError) as caught:
        qelda.read(source, **options)
    e = caught.value
    assert e.status == status and phrase in e.reason and e.message
    assert isinstance(e, qelda.QeldaError) and e.code > 0


def test_unknown_option_is_a_type_error():
    with pytest.raises(TypeError):
        qelda.read(EXAMPLES / "quartz.uxd", sigma=True)


def test_write_reads_back_and_refuses_what_it_cannot_write(tmp_path):
    p = qelda.read(EXAMPLES / "quartz.uxd")
    for f in (f for f in qelda.formats() if f.writes):
        out = tmp_path / f"out_{f.name}"
        # Formats that hold sigma say that they computed it: the example has none.
        warnings = qelda.write(p, out, format=f.name)
        assert all("computed" in w for w in warnings), warnings
        if f.reads:
            back = qelda.read(out, format=f.name)
            np.testing.assert_array_equal(back.intensity, p.intensity)
    assert qelda.detect(tmp_path / "out_gsas").format == "gsas"
    qelda.write(p, tmp_path / "by_name.gsa")
    assert qelda.read(tmp_path / "by_name.gsa").format == "gsas"

    made = qelda.pattern([10, 10.5, 11], [1, 2, 3], sigma=[1, 1, 2], title="made",
                         wavelengths=(1.5406, 0, 0), count_time=1)
    data = qelda.write_bytes(made, "xy", write_sigma=True)
    back = qelda.read(data, name="made.xy", read_sigma=True)
    assert back.title == "made" and list(back.sigma) == [1, 1, 2]

    kept = tmp_path / "kept.dat"
    kept.write_bytes(b"precious")
    for bad, fmt, status in [
        (qelda.pattern([10, 10.5, 12], [1, 2, 3]), "gsas", "uneven_grid"),
        (qelda.pattern([10, 10.5, 11], [1, np.nan, 3]), "xy", "invalid_argument"),
        (made, "ard", "not_available"),
        (made, "png", "unknown_format"),
    ]:
        with pytest.raises(qelda.WriteError) as caught:
            qelda.write(bad, kept, format=fmt)
        assert caught.value.status == status
        assert kept.read_bytes() == b"precious"
    with pytest.raises(qelda.WriteError):
        qelda.write(made, tmp_path / "no-format.zzz")
    # Formats that hold each angle take an uneven scan as it is.
    qelda.write(qelda.pattern([10, 10.5, 12], [1, 2, 3]), tmp_path / "uneven.xye")
    assert list(qelda.read(tmp_path / "uneven.xye").two_theta) == [10, 10.5, 12]
    even = qelda.read(tmp_path / "uneven.xye", resample="auto")
    assert list(even.two_theta) == [10, 11, 12]  # the median of steps 0.5 and 1.5
    np.testing.assert_allclose(even.intensity, [1, 2 + 1 / 3, 3], rtol=1e-6)
    assert any("resampled" in w for w in even.warnings)
    cu = qelda.pattern([30, 90], [5, 6], wavelengths=(1.5406, 0, 0))
    text = qelda.write_bytes(cu, "xy", axis="d").decode()
    assert "# axis d" in text and "2.976" in text
    mo = qelda.read(qelda.write_bytes(cu, "xye"), name="cu.xye", to_wavelength=0.7093)
    assert abs(mo.two_theta[0] - 13.6874363) < 1e-4 and abs(mo.lambda1 - 0.7093) < 1e-6


def test_detect_and_formats():
    d = qelda.detect(EXAMPLES / "quartz.raw")
    assert d.format == "stoe-raw" and "content" in d.how
    assert qelda.detect(b"nothing here", name="x.txt").format is None
    names = [f.name for f in qelda.formats()]
    assert names[:2] == ["xy", "gsas"] and "uxd" in names
