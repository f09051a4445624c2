"""Audio handling for the training clips: trimming, cutting mid-utterance,
and the augmentations (level, noise, reverberation, telephone band, pauses)."""
import numpy as np

FRAME_SECONDS = 0.01


def frame_energy_db(samples, rate):
    """Per-10-ms-frame RMS level in dB."""
    hop = max(1, int(rate * FRAME_SECONDS))
    count = len(samples) // hop
    if count == 0:
        return np.zeros(0, np.float32)
    frames = samples[:count * hop].reshape(count, hop).astype(np.float64)
    return (10.0 * np.log10(np.mean(frames ** 2, axis=1) + 1e-12)).astype(np.float32)


def speech_bounds(samples, rate, floor_db=40.0):
    """(first, end) sample of the part louder than peak - floor_db."""
    energy = frame_energy_db(samples, rate)
    if len(energy) == 0:
        return 0, len(samples)
    loud = np.nonzero(energy > energy.max() - floor_db)[0]
    hop = int(rate * FRAME_SECONDS)
    return int(loud[0] * hop), int(min(len(samples), (loud[-1] + 1) * hop))


def trim(samples, rate):
    first, end = speech_bounds(samples, rate)
    return samples[first:end]


def fade_out(samples, rate, seconds=0.01):
    length = min(len(samples), int(rate * seconds))
    if length:
        samples = samples.copy()
        samples[-length:] *= np.linspace(1.0, 0.0, length, dtype=np.float32)
    return samples


def cut_near(samples, rate, expected_seconds, before=0.25, after=0.15):
    """Cuts trimmed speech at the quietest 30-ms stretch near expected_seconds,
    the duration of the fragment spoken alone (which runs a little long
    because of its own final lengthening). Answers None if no room."""
    energy = frame_energy_db(samples, rate)
    smooth = np.convolve(energy, np.ones(3) / 3.0, mode="same")
    low = int((expected_seconds - before) / FRAME_SECONDS)
    high = int((expected_seconds + after) / FRAME_SECONDS)
    low, high = max(low, 20), min(high, len(smooth) - 20)
    if high <= low:
        return None
    frame = low + int(np.argmin(smooth[low:high]))
    return fade_out(samples[:int((frame + 1) * rate * FRAME_SECONDS)], rate)


def inner_pauses(samples, rate, min_pause=0.08, margin=0.3, floor_db=35.0):
    """Centres (in samples) of silent stretches inside trimmed speech, at least
    margin seconds from either end."""
    energy = frame_energy_db(samples, rate)
    if len(energy) == 0:
        return []
    silent = energy < energy.max() - floor_db
    pauses, start = [], None
    for i, quiet in enumerate(np.append(silent, False)):
        if quiet and start is None:
            start = i
        elif not quiet and start is not None:
            if (i - start) * FRAME_SECONDS >= min_pause:
                centre = (start + i) / 2 * FRAME_SECONDS
                if margin <= centre <= len(energy) * FRAME_SECONDS - margin:
                    pauses.append(int(centre * rate))
            start = None
    return pauses


# --- augmentation ------------------------------------------------------------

def _fft_resample(samples, rate_in, rate_out):
    spectrum = np.fft.rfft(samples.astype(np.float64))
    length = int(round(len(samples) * rate_out / rate_in))
    keep = length // 2 + 1
    if keep <= len(spectrum):
        spectrum = spectrum[:keep]
    else:
        spectrum = np.concatenate([spectrum, np.zeros(keep - len(spectrum), complex)])
    return (np.fft.irfft(spectrum, n=length) * (length / len(samples))).astype(np.float32)


def telephone(samples, rate):
    """300-3400 Hz band at 8 kHz, as a phone line delivers it."""
    narrow = _fft_resample(samples, rate, 8000)
    spectrum = np.fft.rfft(narrow)
    freqs = np.fft.rfftfreq(len(narrow), 1.0 / 8000)
    spectrum[(freqs < 300) | (freqs > 3400)] = 0
    return np.fft.irfft(spectrum, n=len(narrow)).astype(np.float32), 8000


def reverberate(samples, rate, rng):
    """Convolution with a synthetic room: exponentially decaying noise."""
    rt60 = rng.uniform(0.15, 0.7)
    length = int(rate * rt60)
    t = np.arange(length) / rate
    response = rng.standard_normal(length) * np.exp(-6.9 * t / rt60)
    response[0] = 1.0 / rng.uniform(0.3, 1.0)     # direct path
    response /= np.sqrt(np.sum(response ** 2))
    size = 1 << int(np.ceil(np.log2(len(samples) + length)))
    wet = np.fft.irfft(np.fft.rfft(samples, size) * np.fft.rfft(response, size), size)
    return wet[:len(samples)].astype(np.float32)


def coloured_noise(length, rng):
    """White, pink or brown noise with unit RMS."""
    size = 1 << int(np.ceil(np.log2(max(length, 2))))
    white = rng.standard_normal(size)
    kind = rng.integers(3)
    if kind:
        spectrum = np.fft.rfft(white)
        freqs = np.maximum(np.arange(len(spectrum)), 1)
        spectrum /= freqs ** (0.5 * kind)
        white = np.fft.irfft(spectrum, n=size)
    white = white[:length]
    return (white / (np.sqrt(np.mean(white ** 2)) + 1e-12)).astype(np.float32)


def add_noise(samples, speech, rng, snr_db):
    """Noise over the whole clip at snr_db relative to the speech level."""
    speech_rms = np.sqrt(np.mean(speech.astype(np.float64) ** 2)) + 1e-9
    noise = coloured_noise(len(samples), rng) * speech_rms / (10 ** (snr_db / 20))
    return samples + noise


def build_clip(speech, rate, rng, augment=True):
    """Leading pause, the speech, a trailing pause of 0-500 ms, then room,
    noise, channel and level. Answers (samples, rate)."""
    lead = np.zeros(int(rate * rng.uniform(0.05, 0.5)), np.float32)
    tail = np.zeros(int(rate * rng.uniform(0.0, 0.5)), np.float32)
    clip = np.concatenate([lead, speech.astype(np.float32), tail])
    if augment:
        if rng.random() < 0.3:
            clip = reverberate(clip, rate, rng)
        if rng.random() < 0.7:
            clip = add_noise(clip, speech, rng, rng.uniform(5.0, 35.0))
        else:
            clip = add_noise(clip, speech, rng, 60.0)  # a faint floor, never digital silence
        if rng.random() < 0.2 and rate > 8000:
            clip, rate = telephone(clip, rate)
        peak = np.abs(clip).max() + 1e-9
        clip = clip / peak * (10 ** (rng.uniform(-30.0, -1.0) / 20))
    return clip.astype(np.float32), rate
