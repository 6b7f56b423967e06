from typing import Any, Dict, Iterable, List, Mapping, Optional, Union

from . import Job, JobResult, Plugin

def run_shard(step: Mapping[str, Any], jobs: List[Mapping[str, Any]],
              options: Mapping[str, Any]) -> List[Dict[str, Any]]:
    """Runs one shard's jobs as one batch in a new process on this machine."""
def process_files_on_cluster(client: Any, plugin: Union[Plugin, str], jobs: Iterable[Job], *,
                             shard_size: Optional[int] = ..., workers_per_shard: int = ...,
                             **options: Any) -> List[JobResult]:
    """Processes jobs on the workers of a dask.distributed Client, in shards."""
