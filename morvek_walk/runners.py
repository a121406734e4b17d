"""Where the chunks are walked: in this thread, a pool of threads, or a Dask cluster.
Each runner yields the chunks' results in the order of the chunks, with a bounded number in
flight, so memory stays bounded however large the input."""

from __future__ import annotations

import os
import re
import threading
import time
from collections import deque
from typing import Any, Callable, Generator, Iterator, Optional, TypeVar

from .failures import ClusterError, UsageError, signals_held
from .inputs import Chunk, Reading
from .walk import ChunkResult, WalkOptions, walk_chunk

Work = Iterator[Chunk]
Results = Generator[ChunkResult, None, None]  # closed to stop the walk early
Task = TypeVar("Task")
Done = TypeVar("Done")

# A thread a job: the walk releases the interpreter lock while it walks a chunk, so threads
# walk side by side. Past a few a core nothing is gained but memory: the bound keeps a typing
# slip (--jobs 5000) from starting thousands of threads.
MAX_JOBS = 4 * (os.cpu_count() or 1)


# Moves a chunk by default. A cluster's task costs its client about a millisecond: larger chunks
# keep that small beside the walk.
CHUNK_MOVES, DASK_CHUNK_MOVES = 20000, 200000


def run_walk(
    reading: Reading,
    options: WalkOptions,
    jobs: int,
    dask: Optional[str],
    dask_timeout: float,
    moves: Optional[int] = None,
) -> Results:
    """The walk's chunks, walked in threads or on the Dask cluster `dask` names, in order."""
    if dask:
        return run_dask(dask, dask_timeout, reading, moves or DASK_CHUNK_MOVES, options)
    return run_threads(jobs, reading.chunks(moves or CHUNK_MOVES), options)


def in_order(
    submit: Callable[[Task], Any],
    work: Iterator[Task],
    window: int,
    wait: Callable[[Any], Done],
) -> Iterator[Done]:
    """Results in the order of the chunks, at most `window` chunks in flight."""
    pending: deque[Any] = deque()
    for chunk in work:
        pending.append(submit(chunk))
        if len(pending) >= window:
            yield wait(pending.popleft())
    while pending:
        yield wait(pending.popleft())


def _submit(pool: Any, chunk: Chunk, options: WalkOptions) -> Any:
    with signals_held():  # the pool may start a thread
        return pool.submit(walk_chunk, *chunk, options)


def run_threads(jobs: int, work: Work, options: WalkOptions) -> Results:
    if jobs == 1:
        for chunk in work:
            yield walk_chunk(*chunk, options)
        return
    import concurrent.futures  # a walk of one job does without

    pool = concurrent.futures.ThreadPoolExecutor(jobs, thread_name_prefix="walk")
    try:
        yield from in_order(
            lambda chunk: _submit(pool, chunk, options), work, 4 * jobs, lambda f: f.result()
        )
    finally:
        pool.shutdown(wait=True, cancel_futures=True)


# --- Dask -------------------------------------------------------------------------------------
_ADDRESS = re.compile(
    r"(?:(?P<scheme>[a-z][a-z0-9+.-]*)://)?(?P<host>[^\s/:]+|\[[0-9a-fA-F:.]+\]):(?P<port>\d{1,5})"
)
_SCHEMES = {None, "tcp", "tls", "ws", "wss", "ucx"}


def dask_address(text: str) -> str:
    """For argparse: local:N, or a scheduler's address [scheme://]host:port."""
    if text.startswith("local:"):
        count = text[len("local:") :]
        if not count.isdigit() or not 1 <= int(count) <= MAX_JOBS:
            raise UsageError(f"--dask local:N takes N from 1 to {MAX_JOBS}, not {count!r}")
        return text
    found = _ADDRESS.fullmatch(text)
    if not found or found["scheme"] not in _SCHEMES or not 0 < int(found["port"]) < 65536:
        raise UsageError(
            f"--dask takes a scheduler's address such as tcp://host:8786, or local:N, not {text!r}"
        )
    return text


# Asked of the scheduler and of every worker before any work goes out: the scheduler unpickles
# each task too, and a node without the package could only say that it could not.
_HAS_PACKAGE = (
    "all(__import__('importlib.util').util.find_spec(m) is not None "
    "for m in ('morvek_board', 'morvek_walk._native'))"
)
_NO_PACKAGE = (
    "the Dask scheduler or a worker cannot import morvek_board: install 'morvek_board[walk]' "
    "on every node of the cluster, the scheduler's included"
)


def _bounded(step: Callable[[], Any], seconds: float, failure: str) -> Any:
    """`step` run with a deadline. Dask bounds a connection's setup but not the handshake that
    follows it, so a server that is not Dask's (an HTTP server, say) would hold it for ever."""
    box: dict[str, Any] = {}

    def run() -> None:
        try:
            box["value"] = step()
        except BaseException as error:
            box["error"] = error

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    thread.join(seconds)
    if thread.is_alive():
        raise ClusterError(failure)
    if "error" in box:
        raise box["error"]
    return box["value"]


def run_dask(
    address: str, timeout: float, reading: Reading, moves: int, options: WalkOptions
) -> Results:
    """The chunks on a Dask cluster. A stored uncompressed file goes to the workers as places in
    it, which they read themselves (a cluster's nodes see the same files): this process only
    finds where games begin."""
    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        raise ClusterError(
            "--dask needs Dask's distributed scheduler: pip install 'morvek_board[walk]'"
        ) from None
    try:
        from distributed.exceptions import WorkerStartTimeoutError
    except ImportError:  # older releases time out as asyncio does
        WorkerStartTimeoutError = TimeoutError
    import logging

    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    cluster = client = None
    unreachable = f"cannot reach the Dask scheduler at {address} within {timeout:g} s"
    try:
        try:
            if address.startswith("local:"):
                # One thread a worker: the module's calls hold the interpreter lock.
                cluster = LocalCluster(
                    n_workers=int(address[len("local:") :]),
                    threads_per_worker=1,
                    processes=True,
                    dashboard_address=None,
                    silence_logs=logging.CRITICAL,
                )
                client = Client(cluster, timeout=timeout)
            else:
                client = _bounded(lambda: Client(address, timeout=timeout), timeout, unreachable)
            _bounded(
                lambda: client.wait_for_workers(1, timeout=timeout),
                timeout + 1,
                f"the Dask cluster at {address} has no workers",
            )
        except WorkerStartTimeoutError:
            raise ClusterError(f"the Dask cluster at {address} has no workers") from None
        except OSError as error:  # TimeoutError among them
            raise ClusterError(f"{unreachable}: {error}") from None
        if not _bounded(
            lambda: (
                client.run_on_scheduler(eval, _HAS_PACKAGE)
                and all(client.run(eval, _HAS_PACKAGE).values())
            ),
            timeout,
            unreachable,
        ):
            raise ClusterError(_NO_PACKAGE)
        slots = max(sum(client.nthreads().values()), 1)
        # pure=False: two equal tasks (two copies of a file) are still two.
        for results in in_order(
            lambda chunks: client.submit(walk_chunks, chunks, options, pure=False),
            tasks(reading.chunks(moves, by_place=True), TASK_BYTES),
            4 * slots,
            lambda future: _result(client, future, address, timeout),
        ):
            yield from results
    finally:
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()


# A task costs its client about a millisecond and a half of its own, whatever it holds: the
# chunks of small files go together, up to this many bytes a task.
TASK_BYTES = 4 << 20


def tasks(chunks: Iterator[Chunk], size: int) -> Iterator[list[Chunk]]:
    task: list[Chunk] = []
    held = 0
    for chunk in chunks:
        task.append(chunk)
        held += len(chunk.data) if chunk.data is not None else chunk.span[2] - chunk.span[1]  # type: ignore[index]
        if held >= size:
            yield task
            task, held = [], 0
    if task:
        yield task


def walk_chunks(chunks: list[Chunk], options: WalkOptions) -> list[ChunkResult]:
    return [walk_chunk(*chunk, options) for chunk in chunks]


def _result(client: Any, future: Any, address: str, timeout: float) -> Any:
    """The future's result; a cluster left without workers for `timeout` is a failure, not a
    wait for ever."""
    alone_since: Optional[float] = None
    while True:
        try:
            return future.result(timeout=min(timeout, 1.0))  # type: ignore[no-any-return]
        except TimeoutError:
            pass
        except Exception as error:
            text = " ".join(f"{type(error).__name__}: {error}".split())
            raise ClusterError(f"the Dask cluster failed: {text[:300]}") from None
        if client.scheduler_info().get("workers"):
            alone_since = None
        elif alone_since is None:
            alone_since = time.monotonic()
        elif time.monotonic() - alone_since > timeout:
            raise ClusterError(
                f"the Dask cluster at {address} has had no workers for {timeout:g} s"
            )
