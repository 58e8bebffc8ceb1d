#include "engine/stream_copy.h"

#include <algorithm>

namespace tessel {
namespace {

// Progress is told after every slice of this many bytes.
constexpr std::int64_t kProgressSliceBytes = std::int64_t{16} << 20;

}  // namespace

StreamCopier::StreamCopier(std::int64_t totalBytes, const ProgressCallback& progress)
    : buffer_(kCopyBufferBytes), total_(totalBytes), progress_(progress) {}

platform::CopyResult StreamCopier::Copy(platform::File& from, platform::File& to,
                                        std::int64_t count) {
    platform::CopyResult result;
    while (result.copied < count) {
        const auto slice = std::min(count - result.copied, kProgressSliceBytes);
        const auto step = to.CopyFrom(from, slice, buffer_);
        result.copied += step.copied;
        done_ += step.copied;
        if (progress_ && step.copied > 0) progress_(done_, std::max(total_, done_));
        if (step.status != platform::CopyResult::Status::Ok) {
            result.status = step.status;
            return result;
        }
        if (step.copied < slice) break;  // the source ended
    }
    return result;
}

}  // namespace tessel
