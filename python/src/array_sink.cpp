#include "array_sink.h"

#include "sample_block.h"

#include <algorithm>
#include <cstring>

namespace py = pybind11;

namespace tonbrix::python {

ArraySink::~ArraySink()
{
    release_samples(data_, std::size_t{channels_} * capacity_);
}

std::optional<Error> ArraySink::prepare(uint32_t channels, std::size_t, unsigned)
{
    release_samples(data_, std::size_t{channels_} * capacity_);
    data_ = nullptr;
    const std::size_t wanted = std::max<std::size_t>(capacity_, 1);
    channels_ = channels;
    capacity_ = 0;
    frames_ = 0;
    return reserve(wanted);
}

std::optional<Error> ArraySink::reserve(std::size_t frames)
{
    if (frames <= capacity_) {
        return std::nullopt;
    }
    float* grown = allocate_samples(std::size_t{channels_} * frames);
    if (grown == nullptr) {
        return Error{insufficient_memory_message};
    }
    for (uint32_t c = 0; c < channels_ && frames_ > 0; ++c) {
        std::memcpy(grown + c * frames, data_ + c * capacity_, frames_ * sizeof(float));
    }
    release_samples(data_, std::size_t{channels_} * capacity_);
    data_ = grown;
    capacity_ = frames;
    return std::nullopt;
}

std::optional<Error> ArraySink::write(const float* const* channels, uint32_t count,
                                      std::size_t frames)
{
    if (frames_ + frames > capacity_) {
        if (std::optional<Error> failed = reserve(std::max(frames_ + frames, capacity_ * 2))) {
            return failed;
        }
    }
    for (uint32_t c = 0; c < count && c < channels_; ++c) {
        std::memcpy(data_ + c * capacity_ + frames_, channels[c], frames * sizeof(float));
    }
    frames_ += frames;
    return std::nullopt;
}

py::array_t<float> ArraySink::take()
{
    if (frames_ < capacity_) {
        // Close the gaps between the channels so that the array is C-contiguous.
        for (uint32_t c = 1; c < channels_; ++c) {
            std::memmove(data_ + c * frames_, data_ + c * capacity_, frames_ * sizeof(float));
        }
    }
    // The capsule frees the block with the size it was allocated with.
    struct Owned {
        float* data;
        std::size_t count;
    };
    auto* owned = new Owned{data_, std::size_t{channels_} * capacity_};
    py::capsule owner(owned, [](void* pointer) {
        auto* block = static_cast<Owned*>(pointer);
        release_samples(block->data, block->count);
        delete block;
    });
    const std::size_t channels = channels_;
    const std::size_t frames = frames_;
    float* data = data_;
    data_ = nullptr;
    channels_ = 0;
    capacity_ = 0;
    frames_ = 0;
    return py::array_t<float>({channels, frames}, data, owner);
}

} // namespace tonbrix::python
