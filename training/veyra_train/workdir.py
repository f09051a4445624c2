"""Where the training tools write. One writer per output folder: the data
steps resume by reading what a folder already holds, so two runs into one
folder would both redo the same work and write it twice. Output files are
checked before the minutes of work that fill them."""
import contextlib
import fcntl
import os


@contextlib.contextmanager
def sole_writer(out_dir, tool):
    """Holds OUT's lock for the block; another holder makes this one exit
    with a message naming `tool`."""
    with open(os.path.join(out_dir, ".lock"), "w") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise SystemExit(f"another {tool} run is writing {out_dir}") from None
        yield


def require_output_files(parser, **paths):
    """Exits through `parser` (status 2) unless every path names a file in an
    existing folder; keyword names are the options that gave them."""
    for option, path in paths.items():
        if os.path.isdir(path) or not os.path.isdir(os.path.dirname(os.path.abspath(path))):
            parser.error(f"--{option.replace('_', '-')} {path}: needs a file path in an existing folder")
