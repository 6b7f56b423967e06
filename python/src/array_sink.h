#pragma once

#include <tonbrix/render.h>

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tonbrix::python {

// A sink that writes a run's channels into one block of memory laid out
// as a (channels, frames) float32 array, sized for the expected length up
// front (input plus tail) and grown only when the run writes more; the
// block becomes the numpy array without a copy.
class ArraySink final : public Sink {
public:
    explicit ArraySink(std::size_t expected_frames) : capacity_(expected_frames) {}
    ArraySink(const ArraySink&) = delete;
    ArraySink& operator=(const ArraySink&) = delete;
    ~ArraySink() override;

    std::optional<Error> prepare(uint32_t channels, std::size_t, unsigned) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;

    // The channels written as a C-contiguous (channels, frames) array; call
    // with the GIL held, once.
    pybind11::array_t<float> take();

private:
    std::optional<Error> reserve(std::size_t frames);

    uint32_t channels_ = 0;
    std::size_t capacity_ = 0; // frames of each channel's room
    std::size_t frames_ = 0;   // frames written
    float* data_ = nullptr;    // channels_ * capacity_ samples
};

} // namespace tonbrix::python
