#pragma once

#include <string>
#include <vector>

// Command line of the simulated instrument.
struct SimOptions
{
    std::string model = "Varnox";
    int number = 1;
    unsigned char version[3] = {2, 1, 7};
    std::string summaryPath;
    std::string imagePath;
    bool noVersion = false;
    bool noAck = false;
    int replyId = -1; // -1: the model's own id
    int delayMs = 0;
    bool malformedFirst = false;
    unsigned exitAfterBlock = 0; // 0: never
    unsigned lateCycle = 0;      // 0: never
    unsigned lateFrames = 0;     // after the lateCycle-th event's frame
    unsigned tellAt = 0;         // pieces seen before "SEEN"; 0: never
    bool alsa = false;           // on the ALSA sequencer instead of JACK
    bool wineFraming = false;    // pieces framed by Wine's winmm (see SimConfig)
    bool help = false;

    std::string clientName() const { return model + " " + std::to_string(number); }
};

// Parses argv[1..]; on failure returns false and a one-line reason in error.
bool parseSimOptions(const std::vector<std::string> &args, SimOptions &options, std::string &error);

const char *simUsage();
