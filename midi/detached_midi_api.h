#pragma once

#include <RtMidi.h>

#include <string>
#include <utility>
#include <vector>

// What an RtMidiIn or RtMidiOut of the transport holds between leaving its MIDI
// service and joining it again, and still holds when the join failed (the
// server went away again meanwhile): no client, no ports, nothing opens. Every
// call the transport makes on the object stays valid, so a failed join can be
// retried at the next listing instead of leaving an object without an API.
class DetachedMidiInApi final : public MidiInApi
{
public:
    explicit DetachedMidiInApi(RtMidi::Api api);
    RtMidi::Api getCurrentApi() override { return api_; }
    void openPort(unsigned int portNumber, const std::string &portName) override;
    void openVirtualPort(const std::string &portName) override;
    void closePort() override {}
    void setClientName(const std::string &) override {}
    void setPortName(const std::string &) override {}
    unsigned int getPortCount() override { return 0; }
    std::string getPortName(unsigned int) override { return std::string(); }

protected:
    void initialize(const std::string &) override {}

private:
    RtMidi::Api api_;
};

// RtMidiOut's, as above, or, while its stream port is open on a service that
// runs RtMidi's client in every cycle, a client closed with the listing kept:
// the destinations as they were listed when the port opened, so that the
// numbering the port was opened by still holds. That one is not detached: the
// service is joined.
class ClientlessMidiOutApi final : public MidiOutApi
{
public:
    // Detached: lists nothing.
    explicit ClientlessMidiOutApi(RtMidi::Api api) : api_(api), detached_(true) {}
    // The listing kept while the stream port is open.
    ClientlessMidiOutApi(RtMidi::Api api, std::vector<std::string> listing)
        : api_(api), names_(std::move(listing)), detached_(false)
    {
    }
    bool detached() const { return detached_; }
    RtMidi::Api getCurrentApi() override { return api_; }
    void openPort(unsigned int portNumber, const std::string &portName) override;
    void openVirtualPort(const std::string &portName) override;
    void closePort() override {}
    void setClientName(const std::string &) override {}
    void setPortName(const std::string &) override {}
    unsigned int getPortCount() override { return static_cast<unsigned int>(names_.size()); }
    std::string getPortName(unsigned int portNumber) override;
    void sendMessage(const unsigned char *message, size_t size) override;

protected:
    void initialize(const std::string &) override {}

private:
    // Why nothing opens or sends, for RtMidi's error.
    const char *why() const;

    RtMidi::Api api_;
    std::vector<std::string> names_;
    bool detached_;
};

// Whether an RtMidi object's API is a detached one.
bool isDetached(MidiApi *api);
