#pragma once
// The one-line progress display of patchtool's long commands: "patchtool: COMMAND: N of M: NAME"
// on standard error, redrawn in place and cleared when the work ends. Nothing is written when
// standard error is not a terminal, so logs and pipes get only the results.

#include <cstddef>
#include <string>

class ProgressLine {
public:
    explicit ProgressLine(const char* command);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { clear(); }

    // Shows that item `done` + 1 of `total`, named `what`, is being worked on.
    void show(size_t done, size_t total, const std::string& what);
    // Removes the line, so that a message can follow on a line of its own.
    void clear();

private:
    const char* command_;
    bool shown_;
    bool open_ = false;
};
