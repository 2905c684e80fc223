// Where the optimization keeps its full-size matrices: on pages of their own (platform/page_memory.h),
// given back to the system as soon as a matrix is released, so that the pictures of a session never
// leave the host's heap larger than they found it. Small matrices stay on the heap.
#pragma once

#include <opencv2/core.hpp>

// The allocator to set on a matrix (matrix.allocator) before it is created; it lives as long as the
// process. Matrices of at least kPageMatrixBytes bytes get pages of their own.
cv::MatAllocator* pageMatAllocator();

inline constexpr std::size_t kPageMatrixBytes = 256 * 1024;

// `matrix` released and given pageMatAllocator, so that its next create() takes pages of its own.
void usePages(cv::Mat& matrix);
