#include "device_id.h"

#include <atomic>

namespace {
// Shared between the GUI thread (writer) and the reply callback (reader).
std::atomic<int> currentDeviceId{kSoluneDeviceId};
} // namespace

int deviceId()
{
    return currentDeviceId.load(std::memory_order_acquire);
}

void setDeviceId(int id)
{
    currentDeviceId.store(id, std::memory_order_release);
}

int deviceIdForModel(const std::string &modelWord)
{
    if (modelWord == "Varnox")
        return kVarnoxDeviceId;
    if (modelWord == "Solune")
        return kSoluneDeviceId;
    return -1;
}
