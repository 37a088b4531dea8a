// Writing a command's output file. Every command writes its files through
// OutputFile, so that all of them treat the path the same way:
// - a path that names a device or a FIFO (/dev/null, /dev/full, a pipe) is
//   written directly, and its write errors are reported;
// - a symbolic link is followed: the file it points to is replaced;
// - a regular file (or a new one) is written to a hidden temporary file in
//   the target's directory that is renamed over the target once complete,
//   so the target is either replaced whole or left as it was; an existing
//   file keeps its permissions (and owner, where allowed);
// - the temporary file is removed when the program is stopped by SIGINT,
//   SIGTERM, SIGHUP or SIGXFSZ while it is being written.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace zantrel {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // removes the temporary file unless Commit succeeded
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Opens the place the bytes go until Commit. False with `reason` when it
    // cannot be opened (nothing is left behind).
    bool Open(const std::string &path, std::string &reason);
    // The open stream; the caller writes with it and does not close it.
    std::FILE *Stream() const { return stream_; }
    // The file the stream writes to: the temporary file, or the target when
    // it is written directly. For writers that need a name rather than a stream.
    const std::string &WritePath() const { return writePath_; }
    // Flushes (to disk, for a regular file) and moves the temporary file
    // over the target. False with `reason` when any write failed; then the
    // target is left as it was (a device keeps what it received).
    bool Commit(std::string &reason);
    // Drops the temporary file; the target is left as it was.
    void Discard();

private:
    std::FILE *stream_ = nullptr;
    std::string target_;     // the file to replace, symbolic links followed
    std::string writePath_;  // where the stream writes
    bool direct_ = false;
    int slot_ = -1;          // the temporary file's entry in the signal-time list
};

// Writes one output file: opens it, lets `write` fill the stream (it returns
// false and sets its reason on failure) and commits.
bool WriteOutputFile(const std::string &path, const std::function<bool(std::FILE *, std::string &)> &write,
                     std::string &reason);

// Removes every temporary output file still being written. Safe to call from
// a signal handler: a command that installs its own handler for the signals
// above calls this from it.
void RemoveTemporaryOutputs();

}  // namespace zantrel
