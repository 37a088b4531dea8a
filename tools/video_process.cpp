#include "video_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace zantrel {

std::string FindOnPath(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat info;
        if (stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(full.c_str(), X_OK) == 0) return full;
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}

namespace {

// An unnamed file for a child's messages: unlinked at once, so nothing is
// left behind whatever happens to us.
int MessageFile() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zantrel-ffmpeg-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.data());
    return fd;
}

}  // namespace

Subprocess::~Subprocess() {
    Kill();
    if (messages_ >= 0) close(messages_);
}

bool Subprocess::Start(const std::vector<std::string> &argv, Pipe pipe, std::string &error) {
    int ends[2] = {-1, -1};
    // Close-on-exec, so no other child holds our end open: the encoder must
    // see its input end when we close it.
    if (pipe != Pipe::None && pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    messages_ = MessageFile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // We ignore SIGPIPE and catch SIGINT and SIGTERM; the child starts with
    // the defaults.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (pipe == Pipe::ReadsOutput) posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    if (pipe == Pipe::FeedsInput) posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    if (messages_ >= 0) posix_spawn_file_actions_adddup2(&actions, messages_, 2);

    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    int result = posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pipe != Pipe::None) {
        bool reads = pipe == Pipe::ReadsOutput;
        close(reads ? ends[1] : ends[0]);
        pipe_ = reads ? ends[0] : ends[1];
    }
    if (result != 0) {
        pid_ = -1;
        ClosePipe();
        error = "cannot run " + argv[0] + ": " + std::strerror(result);
        return false;
    }
    return true;
}

long long Subprocess::ReadFull(void *data, size_t size, const volatile sig_atomic_t &stop) {
    size_t done = 0;
    while (done < size) {
        if (stop) return -1;
        ssize_t got = read(pipe_, static_cast<char *>(data) + done, size - done);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<size_t>(got);
    }
    return static_cast<long long>(done);
}

bool Subprocess::WriteAll(const void *data, size_t size, const volatile sig_atomic_t &stop) {
    size_t done = 0;
    while (done < size) {
        if (stop) return false;
        ssize_t put = write(pipe_, static_cast<const char *>(data) + done, size - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

void Subprocess::ClosePipe() {
    if (pipe_ >= 0) close(pipe_);
    pipe_ = -1;
}

int Subprocess::Finish(const volatile sig_atomic_t &stop) {
    ClosePipe();
    if (pid_ < 0) return -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR || stop) {
            Kill();
            return -1;
        }
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Subprocess::Kill() {
    ClosePipe();
    if (pid_ < 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string Subprocess::Messages() const {
    if (messages_ < 0) return "";
    struct stat info;
    if (fstat(messages_, &info) != 0) return "";
    // The end is what tells why it stopped.
    const off_t keep = 2000;
    off_t from = info.st_size > keep ? info.st_size - keep : 0;
    std::string text(static_cast<size_t>(info.st_size - from), '\0');
    ssize_t got = pread(messages_, &text[0], text.size(), from);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (from > 0) text = "..." + text.substr(std::min(text.size(), text.find('\n') + 1));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool RunForOutput(const std::vector<std::string> &argv, std::string &output, std::string &error) {
    Subprocess child;
    if (!child.Start(argv, Subprocess::Pipe::ReadsOutput, error)) return false;
    static const volatile sig_atomic_t never = 0;
    char buffer[4096];
    output.clear();
    for (;;) {
        long long got = child.ReadFull(buffer, sizeof buffer, never);
        if (got <= 0) break;
        output.append(buffer, static_cast<size_t>(got));
        if (static_cast<size_t>(got) < sizeof buffer) break;
    }
    int status = child.Finish(never);
    if (status != 0) {
        error = child.Messages();
        return false;
    }
    return true;
}

}  // namespace zantrel
