#include "drain_trace.h"

#include <string>

namespace velta36bench {

namespace {

const std::size_t kRecordBytes = 23;
// 'A', four checksum characters and '/' around the records of an event reply.
const std::size_t kReplyFraming = 6;

// Command frames are '@', address, command bytes, ...: the event read is
// "@<a>q0;/", the batch acknowledgement starts "@<a>v0".
bool IsEventRead(const std::vector<unsigned char>& f)
{
    return f.size() >= 4 && f[0] == '@' && f[2] == 'q';
}
bool IsBatchAck(const std::vector<unsigned char>& f)
{
    return f.size() >= 4 && f[0] == '@' && f[2] == 'v' && f[3] == '0';
}

}  // namespace

DrainWindow AnalyseDrain(const std::vector<refhost::TraceRecord>& trace)
{
    using Direction = refhost::TraceRecord::Direction;
    DrainWindow window;
    bool started = false;
    std::chrono::system_clock::time_point first;
    // The batch in progress: committed to the window when its ack is in.
    uint64_t toDevice = 0, fromDevice = 0, replyBytes = 0;
    bool ackSent = false;
    double hostSeconds = 0;
    bool replyEnded = false;
    std::chrono::system_clock::time_point replyEnd;

    for (const refhost::TraceRecord& r : trace) {
        if (r.direction == Direction::Sent) {
            if (IsEventRead(r.bytes)) {
                if (!started) {
                    started = true;
                    first = r.when;
                    replyEnded = false;   // the status reply lies before the window
                }
                toDevice = fromDevice = replyBytes = 0;
                ackSent = false;
                hostSeconds = 0;
            } else if (!started) {
                continue;
            }
            if (replyEnded)
                hostSeconds += std::chrono::duration<double>(r.when - replyEnd).count();
            replyEnded = false;
            if (IsBatchAck(r.bytes))
                ackSent = true;
            toDevice += r.bytes.size();
            continue;
        }
        if (!started)
            continue;
        fromDevice += r.bytes.size();
        replyEnded = !r.bytes.empty() && r.bytes.back() == '/';
        replyEnd = r.when;
        if (!ackSent) {
            replyBytes += r.bytes.size();
            continue;
        }
        if (!r.bytes.empty() && r.bytes.back() == '/') {
            ++window.batches;
            window.records += replyBytes >= kReplyFraming ? (replyBytes - kReplyFraming) / kRecordBytes : 0;
            window.bytesToDevice += toDevice;
            window.bytesFromDevice += fromDevice;
            window.seconds = std::chrono::duration<double>(r.when - first).count();
            // The gap after this ack belongs to the next batch.
            window.hostSeconds += hostSeconds;
            hostSeconds = 0;
            toDevice = fromDevice = replyBytes = 0;
            ackSent = false;
        }
    }
    return window;
}

}  // namespace velta36bench
