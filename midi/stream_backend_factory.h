#pragma once

#include <RtMidi.h>

#include <memory>

class StreamBackend;

// The streaming backend for the MIDI API the output enumerates with, so that
// port numbers and names mean the same to both. An API without a streaming
// service gets a backend whose open reports so.
std::unique_ptr<StreamBackend> makeStreamBackend(RtMidi::Api api);
