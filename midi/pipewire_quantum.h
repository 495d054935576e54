#pragma once

// PipeWire's libjack tells no JACK client that another client overran its
// cycle, so the stream port cannot see a piece the instrument lost that way.
// Measured with an instrument 20 ms late (docs/midi-systems.md): at a quantum
// of 512 frames or less such an overrun costs the block without a word; at
// 1024 (21.3 ms, PipeWire's own default) it costs nothing.
namespace pipewire_quantum {

// The shortest cycle at which an upload is vouched for: 1024 frames at 48 kHz.
constexpr unsigned kSmallestVouched = 1024;
constexpr unsigned kVouchedRate = 48000;

// Whether `frames` a cycle at `sampleRate` make a cycle shorter than that.
bool tooSmall(unsigned frames, unsigned sampleRate);

// Whether the process's libjack is PipeWire's (its version string says so;
// jackd's does not).
bool libjackIsPipeWire();

// Asks PipeWire for such a cycle as the node latency of every JACK
// client this process opens from now on (PIPEWIRE_LATENCY, which PipeWire's
// libjack reads when a client is opened), unless the user chose a latency or
// a quantum (PIPEWIRE_LATENCY, PIPEWIRE_QUANTUM). The graph runs at the
// smallest latency asked, and PipeWire's libjack locks the quantum while a
// client of it is active: so our clients never ask for less, and while they
// are open an application started later cannot lower the quantum unless it
// forces one. Nothing on jackd. Call before the first client is opened.
void askForVouchedQuantum();

} // namespace pipewire_quantum
