// --trace over a line whose replies come in pieces, with noise, a bad
// checksum and a timeout: one line per whole frame, each marked.
#include <gtest/gtest.h>

#include "trace_frames.h"

namespace {

TEST(TraceFrames, ChunksBecomeWholeMarkedFrames)
{
    velta36cli::TraceFrames frames;
    const auto when = std::chrono::system_clock::now();
    std::vector<std::string> printed;
    auto keep = [&printed](const std::vector<std::string>& lines) {
        for (const std::string& line : lines)
            printed.push_back(line.substr(13));   // after "hh:mm:ss.mmm "
    };
    auto chunk = [&](std::size_t line, const char* device, bool sent, const std::string& bytes) {
        using Direction = refhost::TraceRecord::Direction;
        keep(frames.add({sent ? Direction::Sent : Direction::Received, when, line, device,
                         std::vector<unsigned char>(bytes.begin(), bytes.end())}));
    };
    chunk(0, "front", true, "@0{007;/");
    chunk(0, "front", false, "\x91x");
    chunk(0, "front", false, "A03`");
    chunk(1, "yard", false, "h1/");   // another line, in between
    chunk(0, "front", false, "`jd/A03``je/");
    chunk(0, "front", true, "@0q0;/");
    chunk(0, "front", false, "A3\\0");
    keep(frames.timedOut("front", when));
    chunk(0, "front", false, "h0");
    chunk(0, "front", true, "@0q0;/");
    EXPECT_EQ(printed, (std::vector<std::string>{
                           "front -> @0{007;/",
                           "yard <- h1/",
                           "front <- (noise) \\x91x",
                           "front <- A03``jd/",
                           "front <- (bad checksum) A03``je/",
                           "front -> @0q0;/",
                           "front <- (incomplete) A3\\x5C0",
                           "front -- timeout: no answer",
                           "front <- (incomplete) h0",
                           "front -> @0q0;/",
                       }));
}

}  // namespace
