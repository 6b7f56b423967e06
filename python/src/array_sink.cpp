#include "array_sink.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace py = pybind11;

namespace tonbrix::python {

std::optional<Error> ArraySink::prepare(uint32_t channels, std::size_t, unsigned)
{
    channels_ = channels;
    frames_ = 0;
    data_.reset();
    const std::size_t wanted = capacity_;
    capacity_ = 0;
    return reserve(std::max<std::size_t>(wanted, 1));
}

std::optional<Error> ArraySink::reserve(std::size_t frames)
{
    if (frames <= capacity_) {
        return std::nullopt;
    }
    std::unique_ptr<float[]> grown(new (std::nothrow) float[std::size_t{channels_} * frames]);
    if (!grown && channels_ > 0) {
        return Error{insufficient_memory_message};
    }
    for (uint32_t c = 0; c < channels_; ++c) {
        std::memcpy(grown.get() + c * frames, data_.get() + c * capacity_, frames_ * sizeof(float));
    }
    data_ = std::move(grown);
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
        std::memcpy(data_.get() + c * capacity_ + frames_, channels[c], frames * sizeof(float));
    }
    frames_ += frames;
    return std::nullopt;
}

py::array_t<float> ArraySink::take()
{
    if (channels_ > 0 && frames_ < capacity_) {
        // Close the gaps between the channels so that the array is C-contiguous.
        for (uint32_t c = 1; c < channels_; ++c) {
            std::memmove(data_.get() + c * frames_, data_.get() + c * capacity_,
                         frames_ * sizeof(float));
        }
    }
    float* data = data_.release();
    py::capsule owner(data, [](void* block) { delete[] static_cast<float*>(block); });
    const std::size_t channels = channels_;
    const std::size_t frames = frames_;
    channels_ = 0;
    capacity_ = 0;
    frames_ = 0;
    return py::array_t<float>({channels, frames}, data == nullptr ? nullptr : data, owner);
}

} // namespace tonbrix::python
