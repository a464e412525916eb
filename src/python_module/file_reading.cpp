#include "python_module/file_reading.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "python_module/raised.hpp"
#include "python_module/utf8.hpp"

namespace python_module {

namespace {

// Closes the descriptor on every path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

// strerror_r comes in two shapes; both end up here.
[[maybe_unused]] const char* error_text(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* error_text(const char* result, const char*) { return result; }

// "<system description> (os error N)".
ReadError os_error(int code) {
    char buffer[256] = {};
    const char* text = error_text(strerror_r(code, buffer, sizeof buffer), buffer);
    std::string reason = text != nullptr ? text : "Unknown error " + std::to_string(code);
    return ReadError{reason + " (os error " + std::to_string(code) + ")"};
}

// A system call cut short by a signal is not refused: the interpreter's
// signal handlers run, as they do for Python's own I/O, and the call is
// made again. What a handler raises (KeyboardInterrupt on Ctrl-C) ends the
// reading and reaches the caller.
void after_interruption() {
    if (PyErr_CheckSignals() < 0) {
        throw Raised::fetch();
    }
}

// open(2) read-only; -1 with errno set on failure.
int open_read_only(const char* name) {
    for (;;) {
        const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR) {
            return fd;
        }
        after_interruption();
    }
}

// read(2); -1 with errno set on failure.
ssize_t read_some(int fd, char* into, std::size_t count) {
    for (;;) {
        const ssize_t got = ::read(fd, into, count);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
        after_interruption();
    }
}

}  // namespace

convert_engine::Result<std::string, ReadError> read_text_file(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return ReadError{"file name contained an unexpected NUL byte"};
    }
    const std::string name(path);
    FileDescriptor file(open_read_only(name.c_str()));
    if (file.get() < 0) {
        return os_error(errno);
    }

    // One buffer sized from the reported length; a file that reports less
    // than it holds (or grows meanwhile) is still read to its end.
    struct stat info {};
    std::size_t expected = 0;
    if (::fstat(file.get(), &info) == 0 && info.st_size > 0) {
        expected = static_cast<std::size_t>(info.st_size);
    }
    std::string text;
    text.resize(expected);
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size()) {
            char probe[4096];
            const ssize_t got = read_some(file.get(), probe, sizeof probe);
            if (got < 0) {
                return os_error(errno);
            }
            if (got == 0) {
                break;
            }
            text.append(probe, static_cast<std::size_t>(got));
            filled = text.size();
            continue;
        }
        const ssize_t got = read_some(file.get(), text.data() + filled, text.size() - filled);
        if (got < 0) {
            return os_error(errno);
        }
        if (got == 0) {
            text.resize(filled);
            break;
        }
        filled += static_cast<std::size_t>(got);
    }

    if (!is_valid_utf8(text)) {
        return ReadError{"stream did not contain valid UTF-8"};
    }
    return text;
}

}  // namespace python_module
