"""Markdown tables of evaluate_model.py results, for the model card."""
import json


def metrics_table(path, groups=None):
    result = json.load(open(path))
    lines = ["| Group | n | Accuracy float | Accuracy int8 | Precision int8 | Recall int8 | ROC AUC int8 "
             "| Baseline accuracy | ROC AUC of length alone |",
             "|---|---|---|---|---|---|---|---|---|"]
    for name, m in result["int8"].items():
        if groups and name not in groups:
            continue
        f, b = result["float"][name], result["baseline_always_complete"][name]
        length = result["length_alone"][name]["auc"]
        lines.append(f"| {name} | {m['count']} | {f['accuracy']:.3f} | {m['accuracy']:.3f} | "
                     f"{m['precision']:.3f} | {m['recall']:.3f} | {m['auc']:.3f} | {b['accuracy']:.3f} | "
                     f"{length:.3f} |")
    d = result["float_int8_difference"]
    lines.append("")
    lines.append(f"Float vs int8 probability difference: largest {d['max']:.4f}, mean {d['mean']:.4f}; "
                 f"{d['decisions_changed']} of {result['int8']['all']['count']} decisions at 0.5 differ.")
    return "\n".join(lines)
