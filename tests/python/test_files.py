"""Sound files through the library's own file path, each job in a forked
worker: outputs equal the command line's, a crashing plugin costs only its
job and leaves no file behind, and failures carry the command line's text."""

import os
import wave

import numpy as np
import pytest

import tonbrix
from conftest import run_cli

RATE = 48000
AMP = "http://lv2plug.in/plugins/eg-amp"
RAISE = "http://tonbrix.test/plugins/raise"


def write_wav(path, seconds=0.25, seed=0, channels=2):
    """A 16-bit WAV file of noise."""
    samples = np.random.default_rng(seed).integers(-8000, 8000, (int(seconds * RATE), channels))
    with wave.open(str(path), "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples.astype("<i2").tobytes())
    return path


def test_one_file_equals_command_line(tmp_path):
    source = write_wav(tmp_path / "in.wav")
    amp = tonbrix.Plugin(AMP, gain=-4)
    amp.process_file(source, tmp_path / "py.flac", output_format="flac")
    run_cli("-q", "-i", source, "-o", tmp_path / "cli.flac", "--output-format=flac",
            "-p", "gain:-4", AMP)
    assert (tmp_path / "py.flac").read_bytes() == (tmp_path / "cli.flac").read_bytes()


def test_batch_reports_each_job_and_a_crash_costs_only_its_own(tmp_path):
    jobs = []
    for k in range(5):
        source = write_wav(tmp_path / ("in%d.wav" % k), seed=k)
        job = {"input": str(source), "output": str(tmp_path / "out" / ("%d.wav" % k))}
        if k == 2:
            job["parameters"] = {"signal": 11}  # a write through a null pointer
        jobs.append(job)
    jobs.append({"input": str(tmp_path / "missing.wav"), "output": str(tmp_path / "out/m.wav")})
    os.mkdir(tmp_path / "out")
    results = tonbrix.process_files(tonbrix.Plugin(RAISE), jobs, workers=2)

    assert [r.input for r in results] == [job["input"] for job in jobs]
    assert [r.written for r in results] == [True, True, False, True, True, False]
    crashed = results[2]
    assert crashed.crash_signal == 11
    assert crashed.error == "plugin %s crashed with signal 11 (SIGSEGV)\n" % RAISE
    with pytest.raises(tonbrix.PluginCrashedError) as raised:
        crashed.raise_for_error()
    assert raised.value.signal == 11
    # The missing input's message is the command line's own for it.
    cli = run_cli("-q", "-i", jobs[5]["input"], "-o", tmp_path / "x.wav", RAISE, check=False)
    assert results[5].error == cli.stderr
    # Only the written outputs are there: no temporary file of the crash.
    assert sorted(os.listdir(tmp_path / "out")) == ["0.wav", "1.wav", "3.wav", "4.wav"]
    for k in (0, 1, 3, 4):
        run_cli("-q", "-i", jobs[k]["input"], "-o", tmp_path / "cli.wav", RAISE)
        assert (tmp_path / "out" / ("%d.wav" % k)).read_bytes() == \
            (tmp_path / "cli.wav").read_bytes()


def test_folder_and_job_list(tmp_path):
    source = tmp_path / "in"
    (source / "sub").mkdir(parents=True)
    write_wav(source / "a.wav", seed=1)
    write_wav(source / "sub" / "b.wav", seed=2)
    results = tonbrix.process_folder(AMP, source, tmp_path / "out", output_format="flac")
    assert sorted(os.path.relpath(r.output, tmp_path) for r in results if r.written) == \
        ["out/a.flac", "out/sub/b.flac"]
    listing = tmp_path / "jobs.txt"
    listing.write_text("%s\t%s\n{\"input\": \"%s\", \"output\": \"%s\", "
                       "\"parameters\": {\"gain\": -3}}\nnot a job\n"
                       % (source / "a.wav", tmp_path / "1.wav", source / "a.wav",
                          tmp_path / "2.wav"))
    results = tonbrix.process_files(AMP, listing)
    assert [r.written for r in results] == [True, True, False]
    assert results[2].error  # the line's own message, as --batch prints it
    assert (tmp_path / "1.wav").read_bytes() != (tmp_path / "2.wav").read_bytes()


@pytest.mark.parametrize("output", [
    pytest.param("no-such-folder/out.wav", id="missing-folder"),
    pytest.param("a-file/out.wav", id="file-as-folder"),
])
def test_an_output_that_cannot_be_written_raises_the_command_lines_error(tmp_path, output):
    source = write_wav(tmp_path / "in.wav")
    (tmp_path / "a-file").write_text("not a folder")
    before = sorted(os.listdir(tmp_path))
    with pytest.raises(tonbrix.Error) as raised:
        tonbrix.Plugin(AMP).process_file(source, tmp_path / output)
    cli = run_cli("-q", "-i", source, "-o", tmp_path / output, AMP, check=False)
    assert cli.returncode != 0
    assert str(raised.value) == cli.stderr.rstrip("\n")
    assert sorted(os.listdir(tmp_path)) == before


def test_two_jobs_with_one_output_stop_the_batch(tmp_path):
    source = write_wav(tmp_path / "in.wav")
    with pytest.raises(tonbrix.Error, match="would both be written to .*give each input its "
                                            "own output"):
        tonbrix.process_files(AMP, [(source, tmp_path / "o.wav"), (source, tmp_path / "o.wav")])
    assert not (tmp_path / "o.wav").exists()
