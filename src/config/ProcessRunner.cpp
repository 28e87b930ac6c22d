#include "config/ProcessRunner.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace meterly::config {

namespace {

// Closes a descriptor once, on every path out of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

class FileActions {
public:
    FileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions() {
        if (ok_) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

CommandResult startFailure(int error) {
    return CommandResult{-1, std::string("cannot start the program: ") + std::strerror(error)};
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

CommandResult PosixProcessRunner::run(const std::string& program,
                                      const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return startFailure(errno);
    }
    Descriptor readEnd(fds[0]);
    Descriptor writeEnd(fds[1]);

    FileActions actions;
    if (!actions.ok()) {
        return startFailure(ENOMEM);
    }
    // dup2 clears close-on-exec on the copies, so the child keeps exactly these three.
    if (::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) !=
            0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO) != 0) {
        return startFailure(ENOMEM);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors that other code opened without close-on-exec stay out of the child too.
    ::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
#endif

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    int spawnError =
        ::posix_spawnp(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
    writeEnd.reset();
    if (spawnError != 0) {
        return startFailure(spawnError);
    }

    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    readEnd.reset();

    int waitStatus = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(pid, &waitStatus, 0);
    } while (reaped < 0 && errno == EINTR);

    CommandResult result;
    result.output = trimWhitespace(sanitizeUTF8(bytes));
    if (reaped < 0) {
        result.status = -1;
    } else if (WIFEXITED(waitStatus)) {
        result.status = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        result.status = 128 + WTERMSIG(waitStatus);
    } else {
        result.status = -1;
    }
    return result;
}

std::string sanitizeUTF8(std::string_view bytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < bytes.size()) {
        unsigned char lead = at(i);
        std::size_t length = 0;
        std::uint32_t minimum = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1Fu, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0Fu, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07u, minimum = 0x10000;
        } else {
            out += replacement;
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < length && i + k < bytes.size(); ++k) {
            unsigned char next = at(i + k);
            if ((next & 0xC0u) != 0x80u) {
                break;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        if (k < length || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            // One replacement per maximal invalid prefix; the byte that broke it starts afresh.
            out += replacement;
            i += k;
            continue;
        }
        out.append(bytes.substr(i, length));
        i += length;
    }
    return out;
}

std::string trimWhitespace(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isSpace(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

} // namespace meterly::config
