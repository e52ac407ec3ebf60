// The tool's output: whole lines on standard output from any thread, and a
// progress line on standard error when it is a terminal.
#ifndef VELTA36_CLI_CONSOLE_H
#define VELTA36_CLI_CONSOLE_H

#include <mutex>
#include <string>

namespace velta36cli {

class Console {
public:
    Console();
    void line(const std::string& text);
    void error(const std::string& text);
    // Rewritten in place; ignored when standard error is not a terminal.
    void progress(const std::string& text);
    void clearProgress();
    bool showsProgress() const { return progressTty_; }

private:
    void clearLocked();

    std::mutex mutex_;
    bool progressTty_;
    bool progressShown_ = false;
};

}  // namespace velta36cli

#endif
