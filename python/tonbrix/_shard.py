"""Runs one shard of a job list as one batch, in a process of its own:
``python -m tonbrix._shard`` reads {"step", "jobs", "options"} as JSON on
standard input and writes the results as a JSON list on standard output.

tonbrix.distributed starts it from Dask workers: the library's batch forks
its worker processes, which is only safe from a process that runs no other
thread, and a Dask worker runs several (its event loop, its task threads).
"""

import json
import sys


def main():
    """Runs the request on standard input; its results on standard output."""
    from ._files import run_jobs
    request = json.load(sys.stdin)
    results = run_jobs(request["step"], request["jobs"], **request["options"])
    json.dump([result.as_dict() for result in results], sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
