"""Sound file jobs across the machines of a Dask cluster.

process_files_on_cluster() cuts a job list into shards and runs each shard
as one batch on a Dask worker, returning one tonbrix.JobResult per job::

    from dask.distributed import Client, LocalCluster
    import tonbrix, tonbrix.distributed

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True) as cluster, \\
            Client(cluster) as client:
        results = tonbrix.distributed.process_files_on_cluster(
            client, tonbrix.Plugin("http://lv2plug.in/plugins/eg-amp", gain=-6), jobs)

Each shard runs in a new Python process on the worker's machine, which
loads the plugin data once and runs the shard's jobs one after the other
in forked worker processes (the library's batch), keeping the plugin's
instances from job to job; a plugin that crashes costs only its job. The
batch is not run in the Dask worker process itself, because forking is only
safe from a process without other threads, and a Dask worker has several.

On a real cluster, give Client the scheduler's address; every worker
machine needs tonbrix, the same plugins (LV2_PATH as on this machine) and
the job's input and output paths (a shared file system).
"""

import json
import math
import os
import subprocess
import sys

from ._files import JobResult, _job, _plugin_step

__all__ = ["process_files_on_cluster", "run_shard"]


def run_shard(step, jobs, options):
    """Runs one shard's jobs as one batch in a new process on this machine;
    the results as dicts (JobResult.as_dict). This is what a Dask worker
    runs; it may be called directly too."""
    import tonbrix
    # The new process finds the same package as this one, whatever put it
    # on this one's path.
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(tonbrix.__file__)))
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join(
        [package_parent] + [p for p in environment.get("PYTHONPATH", "").split(os.pathsep) if p])
    request = json.dumps({"step": step, "jobs": jobs, "options": options})
    done = subprocess.run([sys.executable, "-m", "tonbrix._shard"], input=request,
                          capture_output=True, text=True, env=environment)
    if done.returncode == 0:
        return json.loads(done.stdout)
    # The shard's process itself failed (e.g. the plugin data cannot be
    # loaded): every job of the shard carries its message.
    message = done.stderr.strip().splitlines()
    error = (message[-1] if message else "the shard's process ended with status %d"
             % done.returncode) + "\n"
    return [JobResult(job["input"], job["output"], False, error=error).as_dict() for job in jobs]


def process_files_on_cluster(client, plugin, jobs, *, shard_size=None, workers_per_shard=1,
                             **options):
    """Processes (input, output) jobs through a plugin on the workers of a
    dask.distributed Client; one tonbrix.JobResult per job, in the jobs'
    order.

    ``plugin`` is a tonbrix.Plugin or a URI; ``jobs`` as
    tonbrix.process_files takes them (pairs or dicts). The jobs are cut
    into shards of ``shard_size`` jobs (by default enough for about two
    shards per Dask worker thread), each run as one batch with
    ``workers_per_shard`` worker processes. ``options`` are those of
    tonbrix.process_files (block_size, tail, output_format, ...).
    """
    step = _plugin_step(plugin)
    items = [_job(item) for item in jobs]
    if not items:
        return []
    options = dict(options, workers=int(workers_per_shard))
    if shard_size is None:
        threads = sum(client.nthreads().values()) or 1
        shard_size = max(1, math.ceil(len(items) / (2 * threads)))
    shards = [items[start:start + shard_size] for start in range(0, len(items), shard_size)]
    futures = [client.submit(run_shard, step, shard, options, pure=False) for shard in shards]
    results = []
    for shard in client.gather(futures):
        results.extend(JobResult.from_dict(values) for values in shard)
    return results
