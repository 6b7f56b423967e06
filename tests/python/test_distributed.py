"""A job list across a Dask LocalCluster of two worker processes: every
output equals the command line's single run, a crashing job is reported and
the others are written."""

import os
import wave

import numpy as np
import pytest

import tonbrix
from conftest import run_cli

distributed = pytest.importorskip("dask.distributed")
import tonbrix.distributed  # noqa: E402

RATE = 48000
RAISE = "http://tonbrix.test/plugins/raise"


def write_wav(path, seed):
    samples = np.random.default_rng(seed).integers(-8000, 8000, (RATE // 5, 2))
    with wave.open(str(path), "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples.astype("<i2").tobytes())


def test_twenty_files_on_a_local_cluster(tmp_path):
    (tmp_path / "out").mkdir()
    jobs = []
    for k in range(20):
        write_wav(tmp_path / ("%02d.wav" % k), k)
        job = {"input": str(tmp_path / ("%02d.wav" % k)),
               "output": str(tmp_path / "out" / ("%02d.flac" % k))}
        if k == 13:
            job["parameters"] = {"signal": 6}  # abort()
        jobs.append(job)
    plugin = tonbrix.Plugin(RAISE)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        results = tonbrix.distributed.process_files_on_cluster(
            client, plugin, jobs, shard_size=4, output_format="flac")
    assert [r.input for r in results] == [job["input"] for job in jobs]
    assert [k for k, r in enumerate(results) if not r.written] == [13]
    assert results[13].crash_signal == 6
    assert results[13].error == "plugin %s crashed with signal 6 (SIGABRT)\n" % RAISE
    assert len(os.listdir(tmp_path / "out")) == 19
    for k, job in enumerate(jobs):
        if k == 13:
            continue
        expected = tmp_path / "cli.flac"
        run_cli("-q", "-i", job["input"], "-o", expected, "--output-format=flac", RAISE)
        assert open(job["output"], "rb").read() == expected.read_bytes(), job["input"]
