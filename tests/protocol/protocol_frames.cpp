#include "protocol_frames.h"

#include <stdexcept>

namespace frames {

std::string Record(const std::string& head, const std::string& hour, const std::string& minute,
                   const std::string& day, const std::string& month, const std::string& year,
                   const std::string& tail)
{
    const std::string record = head + hour + minute + day + "-" + month + year + tail;
    if (record.size() != 23)
        throw std::logic_error("event record of " + std::to_string(record.size()) + " bytes: " + record);
    return record;
}

std::string EventReply(const std::vector<std::string>& records)
{
    std::string payload;
    for (const std::string& record : records)
        payload += record;
    return DataFrame(payload);
}

std::vector<std::string> Swipes(int n)
{
    std::vector<std::string> records;
    for (int i = 0; i < n; ++i) {
        const std::string card = std::to_string(1000 + i % 9000);
        records.push_back(Record("200:" + card + "00"));
    }
    return records;
}

}  // namespace frames
