"""NumPy log-mel features with the node's tables and scaling.

Training reads features made by the node's own C++ extractor (native/prepare);
this vectorised version, which uses an FFT instead of the node's direct
transform, agrees with it to rounding and serves tests and quick checks.
"""
import numpy as np

SAMPLE_RATE = 16000
WINDOW_SAMPLES = 128000
FRAME_LENGTH = 400
HOP_LENGTH = 160
NUM_BINS = 201
NUM_MEL_BANDS = 80
NUM_FRAMES = 800


def analysis_window() -> np.ndarray:
    i = np.arange(FRAME_LENGTH, dtype=np.float32)
    a = (i * np.float32(6.2831855)) / np.float32(399.0)
    return ((np.float32(1.0) - np.cos(a)) * np.float32(0.5)).astype(np.float32)


def mel_points_hz() -> np.ndarray:
    """The 82 points, evenly spaced in mel from 0 to 8 kHz, that the bands
    are built on: band b rises from point b, peaks at b + 1, falls to b + 2."""
    mel_high = np.float32(np.log10(np.float32(12.428572))) * np.float32(2595.0)
    mel = (np.arange(NUM_MEL_BANDS + 2, dtype=np.float32) * mel_high) / np.float32(81.0)
    return (np.power(np.float32(10.0), mel / np.float32(2595.0)) - np.float32(1.0)) * np.float32(700.0)


def mel_filterbank() -> np.ndarray:
    hz = mel_points_hz()
    freq = (np.arange(NUM_BINS, dtype=np.float32) * np.float32(16000.0)) / np.float32(400.0)
    bank = np.zeros((NUM_MEL_BANDS, NUM_BINS), dtype=np.float32)
    for b in range(NUM_MEL_BANDS):
        left, centre, right = hz[b], hz[b + 1], hz[b + 2]
        rising = (freq - left) / (centre - left)
        falling = (right - freq) / (right - centre)
        bank[b] = np.maximum(np.minimum(rising, falling), 0.0)
    return bank


_WINDOW = analysis_window()
_BANK = mel_filterbank()


def log_mel(samples: np.ndarray) -> np.ndarray:
    """128000 samples at 16 kHz -> [80, 800] features, band-major."""
    assert samples.shape == (WINDOW_SAMPLES,)
    padded = np.concatenate([samples.astype(np.float32), np.zeros(FRAME_LENGTH, np.float32)])
    starts = np.arange(NUM_FRAMES) * HOP_LENGTH
    frames = padded[starts[:, None] + np.arange(FRAME_LENGTH)[None, :]] * _WINDOW
    spectrum = np.fft.rfft(frames.astype(np.float64), axis=1)
    power = (spectrum.real ** 2 + spectrum.imag ** 2).astype(np.float32)
    energies = power @ _BANK.T                                  # [800, 80]
    logs = np.log10(np.maximum(energies, np.float32(1e-10))).astype(np.float32)
    floor = logs.max() - np.float32(8.0)
    return ((np.maximum(logs, floor) + np.float32(4.0)) * np.float32(0.25)).T.copy()


def right_align(samples: np.ndarray) -> np.ndarray:
    """The node's analysis frame: the newest 128000 samples behind leading zeros."""
    frame = np.zeros(WINDOW_SAMPLES, np.float32)
    newest = samples[-WINDOW_SAMPLES:]
    if len(newest):
        frame[WINDOW_SAMPLES - len(newest):] = newest
    return frame
