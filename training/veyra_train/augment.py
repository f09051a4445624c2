"""Speaker and tempo variation applied to stored log-mel features.

The human training speech comes from three speakers only, so the network can
learn their voices instead of the cues every speaker gives. Two cheap
perturbations of the features make each clip sound like a slightly different
speaker on every draw:
- a frequency warp: the spectrum S(f) becomes S(f / factor), as a longer or
  shorter vocal tract moves every formant by one factor;
- a tempo change: the clip is played faster or slower about its newest frame,
  which stays where it is (the end of the turn is what the network judges).
Both interpolate linearly between bands or frames and must keep a factor of
1 an exact identity. A third hides a random run of bands behind the clip's
mean level, so that no single formant region can decide a clip. A fourth
colours the clip as another microphone and line would: a smooth gain curve
over the bands, added to every value above the clip's floor.
"""
import numpy as np

from .features_ref import NUM_MEL_BANDS, mel_points_hz

# Band b is centred on the extractor's mel point b + 1.
_MEL_POINTS_HZ = mel_points_hz().astype(np.float64)
_BAND_CENTRES_HZ = _MEL_POINTS_HZ[1:-1]


def _band_of_hz(hz):
    """Fractional band index whose centre is at `hz` (linear between centres,
    so that every centre maps exactly onto its own band)."""
    return np.interp(hz, _MEL_POINTS_HZ, np.arange(-1.0, NUM_MEL_BANDS + 1))


def _sample_last_axis(features, positions):
    """features [batch, rows, n] at fractional `positions` [batch, m] of the
    last axis, interpolated linearly; positions are clamped to [0, n - 1]."""
    n = features.shape[-1]
    # Rounded so that whole positions (a factor of 1) read exactly one value.
    positions = np.clip(np.round(positions, 6), 0.0, n - 1.0)
    low = np.floor(positions).astype(np.int64)
    high = np.minimum(low + 1, n - 1)
    weight = (positions - low).astype(features.dtype)[:, None, :]
    gather = lambda index: np.take_along_axis(features, index[:, None, :], axis=2)
    return gather(low) * (1 - weight) + gather(high) * weight


def _clip_floors(features):
    """Each clip's lowest value [batch, 1, 1]: what the extractor gives silence."""
    return features.reshape(len(features), -1).min(axis=1)[:, None, None]


def warp_frequency(features, factors):
    """features [batch, 80, frames]; factors [batch] (1 keeps the clip)."""
    source_hz = _BAND_CENTRES_HZ[None, :] / np.asarray(factors, np.float64)[:, None]
    by_frame = np.swapaxes(features, 1, 2)  # bands last
    return np.swapaxes(_sample_last_axis(by_frame, _band_of_hz(source_hz)), 1, 2)


def change_tempo(features, factors):
    """features [batch, 80, frames]; factors [batch] > 1 play faster (more of
    the older audio fits), < 1 slower. Frames from before the clip's start take
    the clip's own floor value, which is what the extractor gives silence."""
    frames = features.shape[2]
    from_end = np.arange(frames - 1, -1, -1, dtype=np.float64)[None, :]
    source = frames - 1 - from_end * np.asarray(factors, np.float64)[:, None]
    out = _sample_last_axis(features, source)
    return np.where((source < 0)[:, None, :], _clip_floors(features), out).astype(features.dtype)


def mask_bands(features, firsts, widths):
    """features [batch, 80, frames]; clip i has bands firsts[i] up to
    firsts[i] + widths[i] (exclusive) set to its own mean over all bands and
    frames. A width of 0 keeps the clip."""
    bands = np.arange(features.shape[1])[None, :]
    firsts = np.asarray(firsts)[:, None]
    hidden = (bands >= firsts) & (bands < firsts + np.asarray(widths)[:, None])
    means = features.mean(axis=(1, 2), keepdims=True)
    return np.where(hidden[:, :, None], means, features).astype(features.dtype)


# Features are log10 band energies divided by 4: 10 dB moves a value by 0.25.
FEATURE_UNITS_PER_DB = 0.025
COLOUR_COMPONENTS = 3


def colour_channel(features, amplitudes_db):
    """features [batch, 80, frames]; amplitudes_db [batch, COLOUR_COMPONENTS]:
    clip i gains sum_k a_ik cos(pi k (b + 0.5) / 80) dB in band b, k = 1..3
    (a tilt, a bowl, a wave; no overall level, which the extractor's
    peak-relative floor ignores anyway). Values at the clip's floor, which is
    what silence gives, stay there, and nothing is lowered below it."""
    bands = np.arange(features.shape[1])
    k = np.arange(1, COLOUR_COMPONENTS + 1)
    basis = np.cos(np.pi * k[:, None] * (bands[None, :] + 0.5) / features.shape[1])  # [k, bands]
    gains = (np.asarray(amplitudes_db, np.float64) @ basis * FEATURE_UNITS_PER_DB).astype(features.dtype)
    floor = _clip_floors(features)
    coloured = np.maximum(features + gains[:, :, None], floor)
    return np.where(features > floor, coloured, features).astype(features.dtype)


def random_variation(features, rng, warp, tempo, widest_mask=0, colour_db=0.0):
    """Each clip warped by a factor drawn from [1 - warp, 1 + warp], its
    tempo changed by one from [1 - tempo, 1 + tempo], a run of 0 to
    `widest_mask` bands hidden, and coloured by components of up to
    `colour_db` dB each."""
    count = len(features)
    if warp > 0:
        features = warp_frequency(features, rng.uniform(1 - warp, 1 + warp, count))
    if tempo > 0:
        features = change_tempo(features, rng.uniform(1 - tempo, 1 + tempo, count))
    if widest_mask > 0:
        widths = rng.integers(0, widest_mask + 1, count)
        features = mask_bands(features, rng.integers(0, NUM_MEL_BANDS - widths + 1), widths)
    if colour_db > 0:
        features = colour_channel(features, rng.uniform(-colour_db, colour_db, (count, COLOUR_COMPONENTS)))
    return features
