#include "imaging/page_mat_allocator.h"

#include "platform/page_memory.h"

#include <new>

namespace {

// OpenCV's mark for a step it is to compute itself (CV_AUTOSTEP of its C interface).
constexpr size_t kAutoStep = 0x7fffffff;

// OpenCV's standard allocator, with pages instead of the heap for large matrices.
class PageMatAllocator final : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag,
                           cv::UMatUsageFlags) const override {
        size_t total = CV_ELEM_SIZE(type);
        for (int i = dims - 1; i >= 0; --i) {
            if (step != nullptr) {
                if (data != nullptr && step[i] != kAutoStep) {
                    total = step[i];
                } else {
                    step[i] = total;
                }
            }
            total *= static_cast<size_t>(sizes[i]);
        }
        void* block = data;
        if (block == nullptr) {
            block = total >= kPageMatrixBytes ? platform::allocatePages(total) : cv::fastMalloc(total);
            if (block == nullptr) {
                CV_Error_(cv::Error::StsNoMem, ("Failed to allocate %zu bytes", total));
            }
        }
        auto* u = new cv::UMatData(this);
        u->data = u->origdata = static_cast<uchar*>(block);
        u->size = total;
        if (data != nullptr) {
            u->flags |= cv::UMatData::USER_ALLOCATED;
        }
        return u;
    }

    bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override { return u != nullptr; }

    void deallocate(cv::UMatData* u) const override {
        if (u == nullptr) {
            return;
        }
        CV_Assert(u->urefcount == 0);
        CV_Assert(u->refcount == 0);
        if (!(u->flags & cv::UMatData::USER_ALLOCATED)) {
            if (u->size >= kPageMatrixBytes) {
                platform::freePages(u->origdata, u->size);
            } else {
                cv::fastFree(u->origdata);
            }
            u->origdata = nullptr;
        }
        delete u;
    }
};

} // namespace

cv::MatAllocator* pageMatAllocator() {
    // Never destroyed, since matrices may be released during the process's or the module's exit; kept in
    // the module's own storage rather than on the heap, so that unloading the module leaves nothing behind.
    alignas(PageMatAllocator) static unsigned char storage[sizeof(PageMatAllocator)];
    static auto* allocator = new (storage) PageMatAllocator;
    return allocator;
}

void usePages(cv::Mat& matrix) {
    if (matrix.allocator != pageMatAllocator()) {
        matrix.release();
        matrix.allocator = pageMatAllocator();
    }
}
