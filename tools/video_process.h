// Child processes for `zantrel video`: ffmpeg and ffprobe run with one end of
// a pipe as their standard input or output, their messages kept in an
// unnamed temporary file for when something goes wrong.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <string>
#include <vector>

namespace zantrel {

// The full path of `name` found in a directory of PATH; empty when none.
std::string FindOnPath(const std::string &name);

class Subprocess {
public:
    enum class Pipe { None, ReadsOutput, FeedsInput };

    Subprocess() = default;
    Subprocess(const Subprocess &) = delete;
    Subprocess &operator=(const Subprocess &) = delete;
    ~Subprocess();

    // Starts argv[0] (a full path). With ReadsOutput we read the child's
    // standard output, with FeedsInput we write its standard input.
    bool Start(const std::vector<std::string> &argv, Pipe pipe, std::string &error);

    // Reads exactly `size` bytes unless the stream ends; returns the number
    // read, or -1 on an error or when `stop` became true meanwhile.
    long long ReadFull(void *data, size_t size, const volatile sig_atomic_t &stop);
    // Writes all bytes; false when the child stopped reading or `stop` is set.
    bool WriteAll(const void *data, size_t size, const volatile sig_atomic_t &stop);

    // Closes our end of the pipe and waits for the child; returns its exit
    // status, or -1 when it ended by a signal (or `stop` interrupted the wait:
    // then the child is killed).
    int Finish(const volatile sig_atomic_t &stop);
    // Ends the child at once and reaps it; harmless when it is not running.
    void Kill();

    // The last lines the child wrote to its standard error.
    std::string Messages() const;
    pid_t Pid() const { return pid_; }

private:
    void ClosePipe();
    pid_t pid_ = -1;
    int pipe_ = -1;
    int messages_ = -1;
};

// Runs argv to completion and gives its standard output; false when it could
// not start or did not exit with status 0 (error holds its messages).
bool RunForOutput(const std::vector<std::string> &argv, std::string &output, std::string &error);

}  // namespace zantrel
