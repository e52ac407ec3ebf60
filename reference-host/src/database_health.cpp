#include "refhost/database_health.h"

#include "save_attempts.h"

namespace refhost {

namespace {

const char* const kFailurePrefixes[] = {velta36::kSaveFailureOdb, velta36::kSaveFailureStd};

// The text after the failure prefix, or false when the line is none.
bool FailureText(const std::string& line, std::string& what)
{
    for (const char* prefix : kFailurePrefixes) {
        const std::string p(prefix);
        if (line.compare(0, p.size(), p) == 0) {
            what = line.substr(p.size());
            return true;
        }
    }
    return false;
}

// "@", the address character, "v0", four checksum characters, "/".
bool IsBatchAcknowledgement(const unsigned char* frame, std::size_t length)
{
    return length == 9 && frame[0] == '@' && frame[2] == 'v' && frame[3] == '0' && frame[8] == '/';
}

}  // namespace

DatabaseHealthWatch::Change DatabaseHealthWatch::onLogLine(const std::string& line)
{
    std::string what;
    if (!FailureText(line, what)) {
        failuresInRow_ = 0;
        return Change::None;
    }
    ++health_.attemptsFailed;
    health_.lastError = what;
    if (++failuresInRow_ < velta36::kSaveAttempts)
        return Change::None;
    failuresInRow_ = 0;
    ++health_.savesFailed;
    if (health_.faulty)
        return Change::None;
    health_.faulty = true;
    ++health_.faultsSeen;
    return Change::FaultStarted;
}

DatabaseHealthWatch::Change DatabaseHealthWatch::onFrameSent(const unsigned char* frame, std::size_t length)
{
    failuresInRow_ = 0;
    if (!health_.faulty || !IsBatchAcknowledgement(frame, length))
        return Change::None;
    health_.faulty = false;
    return Change::FaultCleared;
}

}  // namespace refhost
