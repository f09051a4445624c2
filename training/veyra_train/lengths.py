"""Clip length, a cue that must not decide: whole synthesised sentences run
longer than the fragments cut from them, so on synthetic clips length alone
separates complete from incomplete, while on people's speech it does not."""
import numpy as np

BIN_SECONDS = 0.25
MAX_SECONDS = 8.0   # the node sees the newest 8 s; longer clips look alike


def clip_seconds(records):
    return np.array([r["samples"] / r["rate"] for r in records], dtype=np.float64)


def length_bins(seconds):
    return np.minimum(np.asarray(seconds) // BIN_SECONDS, MAX_SECONDS / BIN_SECONDS).astype(int)


def paired_members(labels, seconds):
    """Per length bin, the indices of its (incomplete, complete) clips."""
    bins, complete = length_bins(seconds), np.asarray(labels) > 0.5
    return [(np.nonzero((bins == b) & ~complete)[0], np.nonzero((bins == b) & complete)[0])
            for b in range(bins.max() + 1)] if len(bins) else []


def matched_subset(labels, seconds, seed=0):
    """Indices of a subset with as many complete as incomplete clips in every
    length bin (seeded draw of the larger class), in which length tells nothing."""
    rng = np.random.default_rng(seed)
    kept = []
    for incomplete, complete in paired_members(labels, seconds):
        count = min(len(incomplete), len(complete))
        kept += [*rng.choice(incomplete, count, replace=False), *rng.choice(complete, count, replace=False)]
    return np.sort(np.array(kept, dtype=int))
