#pragma once

#include <string>

// The one-byte id that names the instrument model. Every message carries it in
// byte 1 and every accepted reply must carry it there too.
constexpr int kVarnoxDeviceId = 0x03;
constexpr int kSoluneDeviceId = 0x02;

// Current device id, 0x02 at process start. Read also by the reply callback,
// on RtMidi's input thread.
int deviceId();
// Written only by the thread that opens the output port, before it opens it:
// the id of the model whose port is opened.
void setDeviceId(int id);
// "Varnox" -> 0x03, "Solune" -> 0x02 (exact, case-sensitive); anything else -> -1.
int deviceIdForModel(const std::string &modelWord);
