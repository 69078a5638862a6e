// Speaking a text with the system's speech synthesizer, and the sound files
// it leaves in the temporary folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Synthesises the text (UTF-16, not necessarily terminated) with the
// French (France) male voice when there is one, writes the sound files and
// plays the speech on the default output; returns once playback has ended.
// One utterance at a time: a second caller waits for the first. False when
// nothing was played (runtime failure, file failure, playback failure).
// The calling thread must be in the multi-threaded apartment.
bool speakText(const wchar_t* text, std::size_t length);

template <std::size_t N>
bool speakText(const wchar_t (&text)[N]) {
  return speakText(text, N - 1);
}

// Writes the samples of a WAV stream to "audio_output.raw"; true when a
// non-empty payload was written whole.
bool exportPcm(std::span<const std::uint8_t> waveBytes);

// "<temporary folder>Orva-Lin\<fileName>" into out, creating the folder;
// the bare file name when that does not fit MAX_PATH.
void tempFilePath(const wchar_t* fileName, wchar_t (&out)[260]);

// Drops the cached activation factories; speakText refuses to speak after
// this. Called before the main thread leaves the runtime.
void releaseSpeechFactories();
