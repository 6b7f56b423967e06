"""Sound files through tonbrix's own file path: one file, a folder, or a list
of jobs, each job in a forked worker process (the library's batches)."""

import os

from . import _tonbrix
from ._errors import Error, InputError, PluginCrashedError


class JobResult:
    """What one job of a batch left: its files, whether its output was
    written, and otherwise the error text that ``--batch`` prints for it."""

    __slots__ = ("input", "output", "written", "skipped", "error", "crash_signal", "messages")

    def __init__(self, input, output, written, skipped=False, error=None, crash_signal=0,
                 messages=""):
        self.input = input                # the input file's path
        self.output = output              # the output file's path
        self.written = written            # True when the output was written whole
        self.skipped = skipped            # left out: its output was current (skip_existing)
        self.error = error                # the message of a failed job, else None
        self.crash_signal = crash_signal  # the signal that ended its worker, else 0
        self.messages = messages          # the job's notes and warnings

    @property
    def ok(self):
        """True when the job wrote its output or was skipped."""
        return self.written or self.skipped

    def raise_for_error(self):
        """Raises the job's failure as tonbrix.Error (tonbrix.PluginCrashedError
        for a crash); nothing for a job that wrote its output."""
        if self.ok:
            return
        message = (self.error or "").rstrip("\n")
        if self.crash_signal:
            raise PluginCrashedError(message, self.crash_signal)
        raise Error(message)

    def as_dict(self):
        """The result as a dict of plain values (for JSON, Dask, pandas)."""
        return {name: getattr(self, name) for name in self.__slots__}

    @classmethod
    def from_dict(cls, values):
        """The result that as_dict() gave."""
        return cls(**{name: values[name] for name in cls.__slots__ if name in values})

    def __eq__(self, other):
        return isinstance(other, JobResult) and self.as_dict() == other.as_dict()

    def __repr__(self):
        state = "written" if self.written else "skipped" if self.skipped else \
            "failed: %s" % (self.error or "").strip()
        return "JobResult(%r -> %r, %s)" % (self.input, self.output, state)


def _plugin_step(plugin):
    """The native description of a Plugin (or a URI) for a batch."""
    from ._plugin import Plugin
    if not isinstance(plugin, Plugin):
        plugin = Plugin(plugin)
    return plugin._step()


def _number_text(value):
    """A parameter value as -p takes it: text as it is, numbers exactly."""
    return value if isinstance(value, str) else repr(float(value))


def _job(item):
    """A job from (input, output), or a dict with "input", "output" and
    optionally "parameters" ({symbol: value}), "preset" and "set"
    ({parameter: value}), as a JSON line of a job list holds them."""
    if isinstance(item, dict):
        if "input" not in item or "output" not in item:
            raise InputError("Error: a job needs an input and an output: %r." % (item,))
        from ._plugin import _value_text
        job = {"input": os.fsdecode(item["input"]), "output": os.fsdecode(item["output"]),
               "parameters": ["%s:%s" % (symbol, _number_text(value))
                              for symbol, value in (item.get("parameters") or {}).items()],
               "set_values": ["%s=%s" % (name, _value_text(value))
                              for name, value in (item.get("set") or {}).items()]}
        if item.get("preset") is not None:
            job["preset"] = item["preset"]
        return job
    try:
        input_path, output_path = item
    except (TypeError, ValueError) as error:
        raise InputError("Error: a job is a pair (input, output) or a dict, not %r."
                         % (item,)) from error
    return {"input": os.fsdecode(input_path), "output": os.fsdecode(output_path)}


def _check_workers(workers):
    """The worker count for the native batch: 0 for one per core."""
    if workers is None:
        return 0
    if int(workers) < 1:
        raise InputError("Error: workers must be 1 or more, not %r." % (workers,))
    return int(workers)


def run_jobs(step, jobs, *, workers=None, block_size=512, tail=None, compensate_latency=False,
             check_clipping=True, output_format=None, skip_existing=False, world=None):
    """Runs native job dicts through a native step; one JobResult per job."""
    from . import default_world
    done = _tonbrix._run_file_batch(
        world if world is not None else default_world(), step, jobs, _check_workers(workers),
        int(block_size), None if tail is None else float(tail), bool(compensate_latency),
        bool(check_clipping), output_format, bool(skip_existing))
    return [JobResult(item["input"], item["output"], item["written"], item["skipped"],
                      item["error"], item["crash_signal"], item["messages"]) for item in done]


def process_files(plugin, jobs, *, workers=None, block_size=512, tail=None,
                  compensate_latency=False, check_clipping=True, output_format=None,
                  skip_existing=False, world=None):
    """Processes sound files through one plugin, as ``--batch`` does: each job
    runs in a forked worker process (``workers`` of them, by default one per
    core), so that a plugin that crashes costs only its job. Returns one
    JobResult per job, in the jobs' order; a failed job raises nothing.

    ``plugin`` is a tonbrix.Plugin (its controls, preset, --set values and
    routing apply to every job) or a URI. ``jobs`` is a list of
    (input, output) pairs or dicts {"input", "output", "parameters",
    "preset", "set"} (each job's values after the plugin's), or the path of
    a job list file as ``--batch`` reads it. Outputs appear whole or not at
    all. Options as the command line: ``block_size``, ``tail`` (seconds),
    ``compensate_latency``, ``check_clipping`` (on, as the command line:
    files may hold integers), ``output_format`` ("flac", "wav:float", ...),
    ``skip_existing`` (leave out jobs whose output is newer than the input).

    Raises tonbrix.Error for what stops every job: two jobs with one
    output, an unreadable job list, an unknown plugin.
    """
    if isinstance(jobs, (str, bytes, os.PathLike)):
        items = _tonbrix._read_job_list(os.fsdecode(jobs))
    else:
        items = [_job(item) for item in jobs]
    return run_jobs(_plugin_step(plugin), items, workers=workers, block_size=block_size,
                    tail=tail, compensate_latency=compensate_latency,
                    check_clipping=check_clipping, output_format=output_format,
                    skip_existing=skip_existing, world=world)


def folder_jobs(input, output, *, output_format=None):
    """The jobs of a folder as ``-i FOLDER -o FOLDER`` finds them: every sound
    file under ``input`` into the same relative path under ``output`` (with
    the extension of ``output_format``'s type), as (input, output) pairs.
    The output folders are made. Raises tonbrix.Error when the folders cannot
    be used (the output is a file, or inside the input)."""
    return [(item["input"], item["output"])
            for item in _tonbrix._folder_jobs(os.fsdecode(input), os.fsdecode(output),
                                               output_format)]


def process_folder(plugin, input, output, **options):
    """Processes every sound file under the folder ``input`` into the same
    relative path under ``output``; one JobResult per file. Options as
    process_files()."""
    jobs = folder_jobs(input, output, output_format=options.get("output_format"))
    return process_files(plugin, jobs, **options)
