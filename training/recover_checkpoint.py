#!/usr/bin/python3
"""Reads the network's weights back out of an exported model, as a checkpoint.

    /usr/bin/python3 training/recover_checkpoint.py --model models/veyra_end_of_turn.onnx \
        --out training/runs/shipped.pt

Works on the float and the int8 export (an int8 model gives its dequantised
weights). The checkpoint holds weights only: it can be exported or used as
--init (so INIT= of run_all.sh fine-tunes the shipped model), not resumed.
"""
import argparse
import os
import sys

import onnx
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from veyra_train.recover import recover_network  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--model", required=True, help="float or int8 ONNX model of this network")
    parser.add_argument("--out", required=True, help="checkpoint to write")
    args = parser.parse_args()
    network = recover_network(onnx.load(args.model))
    torch.save({"model": network.state_dict()}, args.out)
    print(f"wrote {args.out}: the weights of {args.model}")


if __name__ == "__main__":
    main()
