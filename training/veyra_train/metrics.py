"""Binary classification metrics; "complete" (label 1) is the positive class."""
import numpy as np

THRESHOLD = 0.5


def roc_auc(labels, scores):
    """Area under the ROC curve via the rank statistic (ties count half)."""
    labels = np.asarray(labels) > 0.5
    positives, negatives = labels.sum(), (~labels).sum()
    if positives == 0 or negatives == 0:
        return float("nan")
    order = np.argsort(scores, kind="mergesort")
    ranks = np.empty(len(scores))
    sorted_scores = np.asarray(scores)[order]
    i = 0
    while i < len(order):  # average ranks over ties
        j = i
        while j + 1 < len(order) and sorted_scores[j + 1] == sorted_scores[i]:
            j += 1
        ranks[order[i:j + 1]] = (i + j) / 2 + 1
        i = j + 1
    return float((ranks[labels].sum() - positives * (positives + 1) / 2) / (positives * negatives))


def binary_metrics(labels, probabilities, threshold=THRESHOLD):
    labels = np.asarray(labels) > 0.5
    predicted = np.asarray(probabilities) > threshold   # the node's strict comparison
    true_positive = int((predicted & labels).sum())
    return {
        "count": int(len(labels)),
        "accuracy": float((predicted == labels).mean()) if len(labels) else float("nan"),
        "precision": true_positive / max(int(predicted.sum()), 1),
        "recall": true_positive / max(int(labels.sum()), 1),
        "auc": roc_auc(labels, probabilities),
    }
