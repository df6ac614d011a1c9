#include "checked_output.h"

#include <cerrno>
#include <cstdarg>

void checked_output::keep_error() noexcept {
    if (error_ == 0) {
        error_ = errno != 0 ? errno : EIO;
    }
}

void checked_output::write(std::string_view bytes) noexcept {
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        keep_error();
    }
}

void checked_output::write(char byte) noexcept {
    errno = 0;
    if (std::fputc(static_cast<unsigned char>(byte), file_) == EOF) {
        keep_error();
    }
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, checked by the format attribute
void checked_output::print(const char* format, ...) noexcept {
    std::va_list arguments;
    va_start(arguments, format);
    errno = 0;
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started just above
    if (std::vfprintf(file_, format, arguments) < 0) {
        keep_error();
    }
    va_end(arguments);
}

bool checked_output::flush() noexcept {
    errno = 0;
    if (std::fflush(file_) != 0) {
        keep_error();
    }
    return !failed();
}

bool checked_output::failed() const noexcept {
    return error_ != 0 || std::ferror(file_) != 0;
}

int checked_output::error() const noexcept {
    if (error_ != 0) {
        return error_;
    }
    return std::ferror(file_) != 0 ? EIO : 0;
}
