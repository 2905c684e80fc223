// The call stack of the calling thread as text, for the log when an exception escapes an event
// handler. Single-threaded use: only the thread that runs the Qt event loop calls it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One frame: its program counter and its return address. Exactly one terminator ends an array:
//  - normal end: the last real frame, whose `ret` is 0;
//  - walk error: `ret` = 0x80000000 in the top half and the system's error code in the low half;
//  - overflow:   `pc` = `ret` = 0 in the last slot, after 1023 real frames.
struct StackFrame {
    std::uint64_t pc = 0;
    std::uint64_t ret = 0;
};

inline constexpr std::size_t kStackFrameCapacity = 1024;
inline constexpr std::uint64_t kWalkErrorMark = 0x80000000ull << 32;

using StackFrames = std::unique_ptr<StackFrame[]>;

// A growable text buffer: starts with 1024 bytes and doubles as needed; always NUL-terminated.
class TextBuffer {
public:
    TextBuffer();
    ~TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    const char* data() const { return data_; }
    std::size_t length() const { return length_; }
    std::size_t capacity() const { return capacity_; }

private:
    friend int appendFormat(TextBuffer& buffer, const char* format, ...);
    char* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

// printf-style append; returns the number of characters appended (0 when formatting fails).
int appendFormat(TextBuffer& buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Captures the calling thread's stack into 1024 records.
StackFrames captureStack();
// One line per frame: "file(line): function", or the error / overflow line that ends the array.
std::string formatStack(const StackFrame* frames);
// captureStack, then formatStack.
std::string stackTrace();
