#pragma once

#include "io/atomic_output.h"

#include <tonbrix/error.h>

#include <cstdint>
#include <span>
#include <string>

namespace tonbrix {

// A MIDI file to be written at the end of a run: a temporary file next to
// the path is made at once, so a folder that takes no file fails before the
// run, and takes the path's place only at the commit; where no temporary
// file can be made, the path is written in place at the commit.
class MidiOutput {
public:
    explicit MidiOutput(std::string path) : path_(std::move(path)) {}

    // Makes the temporary file; the message when the path cannot be written.
    Status open();

    // Writes the whole file and puts it in place; the message of a failure
    // (the path then keeps what it held).
    Status commit(std::span<const std::uint8_t> bytes);

    // The temporary file made by open; empty when the path is written in
    // place.
    const std::string& temporary_path() const { return atomic_.temp; }

private:
    Error failure(int error) const;

    std::string path_;
    AtomicOutput atomic_;
    bool in_place_ = false;
};

} // namespace tonbrix
