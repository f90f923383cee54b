"""The tone check that the recording tests stand on must tell a sound recorder's losses from gaps in
the test tone itself, and pass a clean recording at every rate and sample size."""

from __future__ import annotations

import math

import pytest

import vtharness as vt


def sine(rate: int, width: int, seconds: float, start: int = 0) -> list[int]:
    amplitude = (64 if width == 1 else 16384)
    return [round(amplitude * math.sin(2 * math.pi * 440 * (start + n) / rate)) for n in range(int(rate * seconds))]


def wav_of(samples: list[int], rate: int, width: int) -> vt.Wav:
    return vt.Wav(1, rate, width, len(samples), samples)


@pytest.mark.parametrize("rate,width", [(8000, 1), (11025, 2), (44100, 2)])
def test_tone_check_tells_losses_from_source_gaps(rate, width):
    clean = sine(rate, width, 2.0)
    report = vt.tone_report(wav_of(clean, rate, width))
    assert not report.problems() and abs(report.frequency - 440) < 0.2, report

    # A few milliseconds of sound lost by the recorder: the phase jumps, nothing is quiet.
    lost = clean[:rate] + sine(rate, width, 1.0, start=rate + rate // 300)
    report = vt.tone_report(wav_of(lost, rate, width))
    assert report.recorder_jumps and not report.source_gaps, report
    assert abs(report.recorder_jumps[0] - 1.0) < 0.05

    # The same stretch played twice.
    repeated = clean[:rate] + clean[rate - rate // 50:]
    assert vt.tone_report(wav_of(repeated, rate, width)).recorder_jumps

    # Silence in the first milliseconds is a stream opening, not a gap; further in, it is one.
    opening = [0] * (rate // 100) + clean[rate // 100:]
    assert not vt.tone_report(wav_of(opening, rate, width)).problems()
    late_opening = [0] * (rate // 10) + clean[rate // 10:]
    assert vt.tone_report(wav_of(late_opening, rate, width)).source_gaps

    # The source was late: silence, then the tone goes on where it stopped (so its phase jumps too).
    gap = clean[:rate] + [0] * (rate // 100) + sine(rate, width, 1.0, start=rate)
    report = vt.tone_report(wav_of(gap, rate, width))
    assert report.source_gaps and not report.recorder_jumps, report
