#!/usr/bin/python3
"""Turns the dataset's clips into model inputs, one .npy per split.

    /usr/bin/python3 training/make_features.py --dataset training/work/dataset \
        --out training/work/features [--native build-training/bin/veyra_train_prepare]

Each clip is brought to 16 kHz, right-aligned into the node's 8-second frame
(newest 128000 samples behind leading zeros) and turned into 80 x 800 log-mel
features, stored float16 in OUT/SPLIT.npy with OUT/SPLIT.jsonl (the manifest
records in the same order).

With --native, the node's own code does the work: the host resampler and the
node's feature extractor (native/prepare). Without it, an FFT resampler and
the NumPy extractor stand in (features agree with the node's to rounding;
see README).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from veyra_train.audio import _fft_resample  # noqa: E402
from veyra_train.features_ref import log_mel, right_align  # noqa: E402
from veyra_train.workdir import sole_writer  # noqa: E402

NUM_FEATURES = 80 * 800


def load_manifest(dataset, split):
    records = []
    with open(os.path.join(dataset, "manifest.jsonl")) as f:
        for line in f:
            record = json.loads(line)
            if not record.get("skipped") and record["split"] == split:
                records.append(record)
    return records


def numpy_features(dataset, records, features):
    for i, record in enumerate(records):
        samples = np.fromfile(os.path.join(dataset, "audio", record["id"] + ".f32"), np.float32)
        if record["rate"] != 16000:
            samples = _fft_resample(samples, record["rate"], 16000)
        features[i] = log_mel(right_align(samples)).astype(np.float16)


def native_features(tool, dataset, records, features, batch=64):
    """Runs the native tool over the clips in batches of `batch` files."""
    with tempfile.TemporaryDirectory() as tmp:
        for start in range(0, len(records), batch):
            chunk = records[start:start + batch]
            listing = os.path.join(tmp, "list.txt")
            output = os.path.join(tmp, "features.f32")
            with open(listing, "w") as f:
                for record in chunk:
                    f.write(f"{record['rate']} {os.path.join(dataset, 'audio', record['id'] + '.f32')}\n")
            subprocess.run([tool, listing, output], check=True)
            values = np.fromfile(output, np.float32).reshape(len(chunk), 80, 800)
            features[start:start + len(chunk)] = values.astype(np.float16)
            print(f"  {start + len(chunk)}/{len(records)}", flush=True)


def write_split(args, split):
    """Features and records of one split, in OUT/SPLIT.npy and OUT/SPLIT.jsonl."""
    records = load_manifest(args.dataset, split)
    if args.limit:
        records = records[:args.limit]
    path = os.path.join(args.out, f"{split}.npy")
    features = np.lib.format.open_memmap(path, mode="w+", dtype=np.float16,
                                         shape=(len(records), 80, 800))
    if args.native:
        native_features(args.native, args.dataset, records, features)
    else:
        numpy_features(args.dataset, records, features)
    features.flush()
    with open(os.path.join(args.out, f"{split}.jsonl"), "w") as f:
        for record in records:
            f.write(json.dumps(record, ensure_ascii=False) + "\n")
    print(f"{split}: {len(records)} clips -> {path}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dataset", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--splits", default="train,val,test")
    parser.add_argument("--native", help="path of veyra_train_prepare")
    parser.add_argument("--limit", type=int, default=0, help="only the first N clips per split")
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    with sole_writer(args.out, "make_features.py"):
        for split in args.splits.split(","):
            write_split(args, split)


if __name__ == "__main__":
    main()
