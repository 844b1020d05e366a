#pragma once

#include <cstddef>

namespace talvorin {

// Writes every byte to the file descriptor: loops on partial writes and EINTR, and waits
// for a non-blocking descriptor that reports EAGAIN. Returns false when the descriptor
// cannot take the bytes (for example EPIPE once the reader has closed a pipe); how much was
// written before the failure is then unknown to the caller.
bool writeAll(int fd, const void* data, std::size_t size) noexcept;

}  // namespace talvorin
