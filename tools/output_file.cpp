#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace zantrel {

namespace {

// Temporary files being written, for the signal handler: fixed storage, so
// that the handler reads no heap memory and calls only unlink.
constexpr int kSlots = 8;
constexpr size_t kPathBytes = 4096;
char g_temporaryPaths[kSlots][kPathBytes];
volatile std::sig_atomic_t g_slotUsed[kSlots];

const int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

extern "C" void RemoveOutputsAndStop(int signal) {
    RemoveTemporaryOutputs();
    // Then die of the signal as if it had not been caught.
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(signal, &plain, nullptr);
    raise(signal);
}

// Installed once, for the signals whose default action ends the program; a
// signal the program was started with ignored (nohup) stays ignored.
void InstallSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : kCleanedSignals) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = RemoveOutputsAndStop;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

// Blocks the cleaned signals for its lifetime, so that a temporary file is
// never created or renamed without the signal-time list knowing it.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : kCleanedSignals) sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

private:
    sigset_t old_;
};

int Remember(const std::string &path) {
    if (path.size() >= kPathBytes) return -1;  // written, but not removed on a signal
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i] != 0) continue;
        std::memcpy(g_temporaryPaths[i], path.c_str(), path.size() + 1);
        g_slotUsed[i] = 1;
        return i;
    }
    return -1;
}

void Forget(int slot) {
    if (slot >= 0) g_slotUsed[slot] = 0;
}

std::string ErrnoText(int error) { return std::strerror(error); }

std::string DirectoryOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a path leads to through symbolic links in its last component,
// as `cp` and the shell's `>` find it; a link to nothing leads to the file
// to create.
bool FollowLinks(const std::string &path, std::string &target, std::string &reason) {
    target = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t length = readlink(target.c_str(), &link[0], link.size());
        if (length < 0) {
            reason = "cannot follow the link (" + ErrnoText(errno) + ")";
            return false;
        }
        link.resize(static_cast<size_t>(length));
        target = (!link.empty() && link[0] == '/') ? link : DirectoryOf(target) + link;
    }
    reason = "cannot follow the link (" + ErrnoText(ELOOP) + ")";
    return false;
}

// Hidden, beside the target, so that rename() stays within one file system;
// it ends with the target's name, so a writer that goes by the extension
// (ffmpeg) sees the same one.
std::string TemporaryName(const std::string &target, unsigned attempt) {
    std::string dir = DirectoryOf(target);
    return dir + ".zantrel-" + std::to_string(static_cast<long>(getpid())) + "-" + std::to_string(attempt) + "-" +
           target.substr(dir.size());
}

}  // namespace

void RemoveTemporaryOutputs() {
    for (int i = 0; i < kSlots; ++i)
        if (g_slotUsed[i] != 0) unlink(g_temporaryPaths[i]);
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(const std::string &path, std::string &reason) {
    Discard();
    struct stat st {};
    bool exists = stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        reason = "cannot replace it (" + ErrnoText(EISDIR) + ")";
        return false;
    }
    int fd = -1;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or FIFO takes the bytes as they come; it cannot be replaced.
        fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            reason = "cannot open (" + ErrnoText(errno) + ")";
            return false;
        }
        direct_ = true;
        target_ = writePath_ = path;
    } else {
        if (!FollowLinks(path, target_, reason)) return false;
        InstallSignalHandlers();
        {
            SignalsHeld held;
            for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
                writePath_ = TemporaryName(target_, attempt);
                // Private until it has the target's permissions.
                fd = open(writePath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
                if (fd < 0 && errno != EEXIST) break;
            }
            if (fd >= 0) slot_ = Remember(writePath_);
        }
        if (fd < 0) {
            reason = "cannot create a file beside it (" + ErrnoText(errno) + ")";
            return false;
        }
        if (exists) {
            mode_t mode = st.st_mode & 07777;
            // Another owner is kept where allowed; without it, no set-id bits.
            if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0)
                mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
            (void)fchmod(fd, mode);
        }
    }
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        reason = "cannot write (" + ErrnoText(errno) + ")";
        close(fd);
        Discard();
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string &reason) {
    if (stream_ == nullptr) {
        reason = "not open";
        return false;
    }
    bool ok = true;
    // The data must be on disk before the rename makes it the target.
    if (std::fflush(stream_) != 0 || std::ferror(stream_) || (!direct_ && fsync(fileno(stream_)) != 0)) {
        reason = "cannot write (" + ErrnoText(errno) + ")";
        ok = false;
    }
    int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0 && ok) {
        reason = "cannot write (" + ErrnoText(errno) + ")";
        ok = false;
    }
    if (ok && !direct_) {
        SignalsHeld held;
        if (std::rename(writePath_.c_str(), target_.c_str()) != 0) {
            reason = "cannot replace it (" + ErrnoText(errno) + ")";
            ok = false;
        } else {
            Forget(slot_);
            slot_ = -1;
            writePath_.clear();
        }
    }
    if (!ok) Discard();
    if (direct_) writePath_.clear();  // the target itself: never to be removed
    direct_ = false;
    return ok;
}

void OutputFile::Discard() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!direct_ && !writePath_.empty()) {
        SignalsHeld held;
        unlink(writePath_.c_str());
        Forget(slot_);
    }
    slot_ = -1;
    writePath_.clear();
    direct_ = false;
}

bool WriteOutputFile(const std::string &path, const std::function<bool(std::FILE *, std::string &)> &write,
                     std::string &reason) {
    OutputFile file;
    if (!file.Open(path, reason)) return false;
    if (!write(file.Stream(), reason)) {
        file.Discard();
        return false;
    }
    return file.Commit(reason);
}

}  // namespace zantrel
