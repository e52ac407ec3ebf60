// Two figures of `run`'s summary that only the frames on the line show:
//  - rows stored again: a batch the controller sent again because it did
//    not hear the plug-in's "v0" (the command, not its acknowledgement, was
//    lost). The plug-in cannot tell that case from a lost acknowledgement,
//    after which the controller has deleted the batch, so it stores what
//    comes: twice is better than lost (docs/delivery-guarantee.md).
//  - door openings the alarm rule left out: a door-opened record that gave
//    no row, because the door had stood open for over a minute since the
//    last access, or an alarm on it was still on.
// Counted per device from the chunks on its line and the rows stored.
#ifndef VELTA36_CLI_LINE_TALLY_H
#define VELTA36_CLI_LINE_TALLY_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "site_listener.h"

namespace velta36cli {

class LineTally : public velta36site::SiteListener {
public:
    struct Counts {
        uint64_t storedAgain = 0;
        uint64_t openingsLeftOut = 0;
    };

    void onTraffic(const refhost::TraceRecord& record) override;
    void onEventStored(const velta36site::DeviceIdentity& device, const velta36site::StoredEvent& row) override;

    Counts counts(const std::string& device) const;

private:
    enum class Ack { NotSent, Awaited, Heard };   // the "v0" of the last batch
    struct Device {
        std::string received;   // a reply coming in
        std::vector<std::string> lastBatch;
        Ack ack = Ack::NotSent;
        uint64_t storedAgain = 0;
        uint64_t openingsDecoded = 0;
        uint64_t openingsStored = 0;
    };
    void onReply(Device& device, const std::string& frame);

    std::map<std::string, Device> devices_;
};

}  // namespace velta36cli

#endif
