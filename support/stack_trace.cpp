#include "support/stack_trace.h"

#include "platform/stack.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kInitialCapacity = 1024;

// Addresses print as the platform's pointers do: upper-case hexadecimal, as many digits as a
// pointer has, only the low bits that a pointer holds.
std::string addressText(std::uint64_t address) {
    constexpr int digits = 2 * static_cast<int>(sizeof(void*));
    if constexpr (sizeof(void*) < sizeof(std::uint64_t)) {
        address &= (std::uint64_t{1} << (8 * sizeof(void*))) - 1;
    }
    char text[24];
    std::snprintf(text, sizeof(text), "%0*" PRIX64, digits, address);
    return text;
}

} // namespace

TextBuffer::TextBuffer()
    : data_(static_cast<char*>(std::malloc(kInitialCapacity))), capacity_(kInitialCapacity) {
    if (data_ == nullptr) {
        throw std::bad_alloc();
    }
    data_[0] = '\0';
}

TextBuffer::~TextBuffer() {
    std::free(data_);
}

int appendFormat(TextBuffer& buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int needed = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (needed < 0) {
        va_end(args);
        return 0;
    }
    const std::size_t room = static_cast<std::size_t>(needed) + 1;
    if (buffer.length_ + room > buffer.capacity_) {
        std::size_t capacity = buffer.capacity_;
        while (buffer.length_ + room > capacity) {
            capacity *= 2;
        }
        char* grown = static_cast<char*>(std::realloc(buffer.data_, capacity));
        if (grown == nullptr) {
            va_end(args);
            throw std::bad_alloc();
        }
        buffer.data_ = grown;
        buffer.capacity_ = capacity;
    }
    const int written =
        std::vsnprintf(buffer.data_ + buffer.length_, buffer.capacity_ - buffer.length_, format, args);
    va_end(args);
    if (written < 0) {
        buffer.data_[buffer.length_] = '\0';
        return 0;
    }
    buffer.length_ += static_cast<std::size_t>(written);
    return written;
}

StackFrames captureStack() {
    StackFrames frames(new StackFrame[kStackFrameCapacity]{});
    const platform::StackWalk walk = platform::walkStack(kStackFrameCapacity);
    for (std::size_t k = 0;; ++k) {
        if (k == kStackFrameCapacity - 1) {
            frames[k] = StackFrame{0, 0};
            break;
        }
        if (k >= walk.pcs.size()) {
            // The walk gave no frame at all: report it as a failed walk rather than an empty stack.
            frames[k] = StackFrame{0, kWalkErrorMark | walk.error};
            break;
        }
        frames[k].pc = walk.pcs[k];
        const bool last = k + 1 == walk.pcs.size();
        if (last && walk.failed) {
            frames[k].ret = kWalkErrorMark | walk.error;
            break;
        }
        frames[k].ret = last ? 0 : walk.pcs[k + 1];
        if (frames[k].ret == 0) {
            break;
        }
    }
    return frames;
}

std::string formatStack(const StackFrame* frames) {
    TextBuffer text;
    platform::SymbolResolver symbols;
    for (std::size_t k = 0; k < kStackFrameCapacity; ++k) {
        const StackFrame& frame = frames[k];
        if ((frame.ret & (std::uint64_t{1} << 63)) != 0) {
            appendFormat(text, "StackWalk64 error: %d @ %s\n", static_cast<int>(frame.ret & 0xFFFFFFFFu),
                         addressText(frame.pc).c_str());
            break;
        }
        // The overflow record is the one with both addresses 0. (A recursive frame can have its
        // program counter equal to its return address; that is an ordinary frame.)
        if (frame.pc == 0 && frame.ret == 0) {
            appendFormat(text, "Stack overflow @ %s\n", addressText(frame.ret).c_str());
            break;
        }
        const auto position = symbols.sourcePosition(frame.pc);
        appendFormat(text, "%s(%d): ", position ? position->file.c_str() : "(null)",
                     position ? position->line : 0);
        if (const auto name = symbols.symbolName(frame.pc)) {
            appendFormat(text, "%s\n", name->c_str());
        } else {
            appendFormat(text, " Unkown symbol @ %s\n", addressText(frame.pc).c_str());
        }
        if (frame.ret == 0) {
            break;
        }
    }
    return std::string(text.data(), text.length());
}

std::string stackTrace() {
    const StackFrames frames = captureStack();
    return formatStack(frames.get());
}
