#include "instrument_host.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace sim_host {

namespace {

// Written to a temporary name first so a reader never sees half a file.
bool writeFile(const std::string &path, const char *data, std::size_t size)
{
    const std::string temp = path + ".tmp";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file.write(data, std::streamsize(size)) || !file.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

} // namespace

SimConfig configOf(const SimOptions &options)
{
    SimConfig config;
    config.deviceId = options.model == "Varnox" ? 0x03 : 0x02;
    config.replyId =
        static_cast<unsigned char>(options.replyId >= 0 ? options.replyId : config.deviceId);
    std::memcpy(config.version, options.version, 3);
    config.noVersion = options.noVersion;
    config.noAck = options.noAck;
    config.malformedFirst = options.malformedFirst;
    config.wineFraming = options.wineFraming;
    config.exitAfterBlock = options.exitAfterBlock;
    return config;
}

SimStats::Identity identityOf(const SimOptions &options, const SimConfig &config,
                              const std::string &clientName, std::uint32_t clockRate)
{
    SimStats::Identity identity;
    identity.clientName = clientName;
    identity.model = options.model;
    identity.deviceId = config.deviceId;
    identity.replyId = config.replyId;
    identity.version = std::to_string(config.version[0]) + "." + std::to_string(config.version[1]) +
                       "." + std::to_string(config.version[2]);
    identity.sampleRate = clockRate;
    return identity;
}

bool writeOutputs(const SimOptions &options, const SimStats &stats)
{
    bool ok = true;
    if (!options.summaryPath.empty()) {
        const std::string json = stats.toJson();
        if (!writeFile(options.summaryPath, json.data(), json.size())) {
            std::fprintf(stderr, "tarnwick-sim: cannot write summary %s: %s\n",
                         options.summaryPath.c_str(), std::strerror(errno));
            ok = false;
        }
    }
    if (!options.imagePath.empty()) {
        const auto &image = stats.image();
        if (!writeFile(options.imagePath, reinterpret_cast<const char *>(image.data()),
                       image.size())) {
            std::fprintf(stderr, "tarnwick-sim: cannot write image %s: %s\n",
                         options.imagePath.c_str(), std::strerror(errno));
            ok = false;
        }
    }
    return ok;
}

void announceReady(const std::string &clientName)
{
    std::printf("READY %s\n", clientName.c_str());
    std::fflush(stdout);
}

void tellIfSeen(const SimOptions &options, const SimStats &stats, bool &told)
{
    if (told || options.tellAt == 0 || stats.pieces() < options.tellAt)
        return;
    told = true;
    std::printf("SEEN %u\n", options.tellAt);
    std::fflush(stdout);
}

} // namespace sim_host
