#!/usr/bin/python3
"""Averages the weights of checkpoints of one network into a new checkpoint.

    /usr/bin/python3 training/average_checkpoints.py --out runs/NAME/averaged.pt A.pt B.pt

A run fine-tuned from another stays near it, in one basin of the loss, where
the mean of the two runs' weights ranks clips better than either alone
(measured in models/MODEL_CARD.md). The result holds weights only: it can be
exported or used as --init, not resumed.
"""
import argparse

import torch


def average_weights(paths):
    """The element-wise mean of the checkpoints' weights; every checkpoint
    must hold the same tensors, and non-float ones (counters) must agree."""
    states = [torch.load(path, map_location="cpu")["model"] for path in paths]
    first = states[0]
    for path, state in zip(paths[1:], states[1:]):
        if state.keys() != first.keys() or any(state[k].shape != first[k].shape for k in first):
            raise SystemExit(f"{path} holds other tensors than {paths[0]}: not the same network")
    averaged = {}
    for name, tensor in first.items():
        values = [state[name] for state in states]
        if tensor.is_floating_point():
            averaged[name] = torch.stack(values).mean(dim=0)
        elif all(torch.equal(tensor, value) for value in values):
            averaged[name] = tensor
        else:
            raise SystemExit(f"{name} differs between the checkpoints and cannot be averaged")
    return averaged


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("checkpoints", nargs="+")
    args = parser.parse_args()
    torch.save({"model": average_weights(args.checkpoints)}, args.out)
    print(f"wrote {args.out}: the mean of {len(args.checkpoints)} checkpoints")


if __name__ == "__main__":
    main()
