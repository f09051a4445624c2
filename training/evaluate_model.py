#!/usr/bin/python3
"""Scores the float and the int8 export in ONNX Runtime on a feature split and
reports metrics overall, per language and per source, the float/int8
probability differences, and the always-"complete" baseline (OUT as JSON,
and the same tables in Markdown beside it).

    /usr/bin/python3 training/evaluate_model.py --features training/work/features --split test \
        --float F.onnx --int8 Q.onnx --evaluator build-training/bin/veyra_train_evaluate \
        --out training/runs/NAME/test_metrics.json
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from veyra_train.lengths import MAX_SECONDS, clip_seconds, matched_subset  # noqa: E402
from veyra_train.metrics import binary_metrics  # noqa: E402
from veyra_train.report import metrics_table  # noqa: E402
from veyra_train.workdir import require_output_files  # noqa: E402


def score(evaluator, model, features_f32):
    with tempfile.NamedTemporaryFile(suffix=".txt") as out:
        subprocess.run([evaluator, model, features_f32, out.name, "8"], check=True)
        return np.loadtxt(out.name, dtype=np.float64, ndmin=1)


def groups_of(records, labels, seconds):
    groups = {"all": np.arange(len(records))}
    for key in ("language", "source"):
        for value in sorted({r[key] for r in records}):
            groups[f"{key}={value}"] = np.array([i for i, r in enumerate(records) if r[key] == value])
    for language in sorted({r["language"] for r in records}):
        for source in ("tts", "human"):
            idx = [i for i, r in enumerate(records) if r["language"] == language and r["source"] == source]
            if idx:
                groups[f"{language}/{source}"] = np.array(idx)
    # Validation mixes the training speakers' held-out prompts with a speaker
    # never trained on; only per voice do the two show apart.
    for voice in sorted({r["voice"] for r in records if r["source"] == "human"}):
        groups[f"voice={voice}"] = np.array([i for i, r in enumerate(records) if r["voice"] == voice])
    # Where length tells nothing, only what the clip sounds like can. Matched
    # within each source, so that each source's subset is length-neutral too.
    matched = []
    for source in ("tts", "human"):
        idx = groups.get(f"source={source}")
        if idx is not None:
            groups[f"length-matched/{source}"] = idx[matched_subset(labels[idx], seconds[idx])]
            matched.append(groups[f"length-matched/{source}"])
    groups["length-matched"] = np.sort(np.concatenate(matched))
    return groups


def grouped(groups, labels, probabilities):
    return {name: binary_metrics(labels[idx], probabilities[idx]) for name, idx in groups.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--features", required=True)
    parser.add_argument("--split", default="test")
    parser.add_argument("--float", dest="float_model", required=True)
    parser.add_argument("--int8", dest="int8_model", required=True)
    parser.add_argument("--evaluator", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    require_output_files(parser, out=args.out)

    features = np.load(os.path.join(args.features, f"{args.split}.npy"), mmap_mode="r")
    with open(os.path.join(args.features, f"{args.split}.jsonl")) as f:
        records = [json.loads(line) for line in f]
    labels = np.array([r["label"] for r in records], dtype=np.float64)
    with tempfile.TemporaryDirectory() as tmp:
        raw = os.path.join(tmp, "features.f32")
        np.asarray(features, dtype=np.float32).tofile(raw)
        float_p = score(args.evaluator, args.float_model, raw)
        int8_p = score(args.evaluator, args.int8_model, raw)
    difference = np.abs(float_p - int8_p)
    seconds = clip_seconds(records)
    groups = groups_of(records, labels, seconds)
    result = {
        "split": args.split,
        "float": grouped(groups, labels, float_p),
        "int8": grouped(groups, labels, int8_p),
        "baseline_always_complete": grouped(groups, labels, np.ones_like(labels)),
        # Only its AUC means something: how well length alone ranks the clips.
        "length_alone": grouped(groups, labels, np.minimum(seconds, MAX_SECONDS) / MAX_SECONDS),
        "float_int8_difference": {"max": float(difference.max()), "mean": float(difference.mean()),
                                  "decisions_changed": int(((float_p > 0.5) != (int8_p > 0.5)).sum())},
    }
    with open(args.out, "w") as f:
        json.dump(result, f, indent=1)
    with open(os.path.splitext(args.out)[0] + ".md", "w") as f:
        f.write(metrics_table(args.out) + "\n")
    print(f"{'group':<22}{'n':>5}  {'float acc':>9} {'int8 acc':>9} {'prec':>6} {'rec':>6} {'auc':>6}  "
          f"{'base acc':>8} {'len auc':>7}")
    for name, m in result["int8"].items():
        fm, bm = result["float"][name], result["baseline_always_complete"][name]
        print(f"{name:<22}{m['count']:>5}  {fm['accuracy']:>9.3f} {m['accuracy']:>9.3f} "
              f"{m['precision']:>6.3f} {m['recall']:>6.3f} {m['auc']:>6.3f}  {bm['accuracy']:>8.3f} "
              f"{result['length_alone'][name]['auc']:>7.3f}")
    print("float vs int8:", result["float_int8_difference"])


if __name__ == "__main__":
    main()
