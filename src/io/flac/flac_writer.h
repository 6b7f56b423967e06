#pragma once

#include "io/flac/flac_frames.h"
#include "io/flac/md5.h"
#include "io/sound_strings.h"

#include <sndfile.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tonbrix {

// Writes 16-bit PCM to a FLAC file with the encoding spread over threads:
// the audio is cut into segments of whole FLAC blocks, libsndfile encodes
// each segment on its own, and the segments' frames are renumbered and
// joined, with the totals of the whole stream in STREAMINFO. The file has
// the bytes libsndfile gives when it encodes the stream in one piece: FLAC
// frames do not depend on each other, only their numbers and checksums do.
struct FlacSegment {
    std::vector<int16_t> samples; // interleaved
    std::size_t frames = 0;
    uint64_t index = 0; // segments before this one
    std::vector<uint8_t> stream; // the segment as a FLAC stream of its own
    std::vector<std::size_t> writes; // where libsndfile's writes began, in order
    // Made by the encoder thread from `stream`: the metadata, and the frames
    // numbered as in the whole stream, from `first_frame` on.
    std::size_t header_size = 0;
    std::size_t stream_info_offset = 0;
    std::vector<uint8_t> frames_out;
    uint64_t first_frame = 0;
    uint64_t frame_count = 0;
    uint32_t min_frame_size = 0;
    uint32_t max_frame_size = 0;
    bool done = false;
    bool failed = false;
};

struct FlacWriter {
    int fd = -1;
    SF_INFO info{};
    SoundStrings strings; // in the stream's metadata
    std::size_t segment_frames = 0;
    std::size_t in_flight = 0; // segments dispatched and not written, at most

    std::mutex mutex;
    std::condition_variable work;     // a segment waits for an encoder, or stopping
    std::condition_variable finished; // a segment was encoded
    std::deque<std::unique_ptr<FlacSegment>> order; // dispatched, in stream order
    std::deque<FlacSegment*> waiting;               // not yet taken by an encoder
    bool stopping = false;
    std::vector<std::thread> encoders;

    std::unique_ptr<FlacSegment> filling;
    std::vector<std::unique_ptr<FlacSegment>> spare; // written, to fill again
    uint64_t segments = 0; // dispatched so far
    Md5 md5;
    FlacTotals totals;
    uint64_t frames_written = 0; // FLAC frames, for their numbers
    off_t start = 0;                  // where the stream begins in the file
    std::vector<uint8_t> header;      // "fLaC" and the metadata, once written
    std::size_t stream_info_offset = 0; // in `header`
    int error = 0;             // errno of a failed write; -1: encoding failed

    FlacWriter() = default;
    FlacWriter(const FlacWriter&) = delete;
    FlacWriter& operator=(const FlacWriter&) = delete;
    ~FlacWriter();
};

// Frames per segment: a multiple of every FLAC block size libsndfile uses.
inline constexpr std::size_t flac_segment_frames = 65536;

// The compression level libFLAC encodes the segments at: libsndfile's
// default, 5 (blocks of 4096 frames, each frame's stereo coding chosen on
// its own). Level 4 would be about 30% faster, but its adaptive mid-side
// stereo carries its choice from frame to frame, so that segments would
// not join into the stream of one piece.
inline constexpr unsigned flac_level = 5;

// Starts `threads` encoder threads writing to `fd`, at its current offset,
// a stream of `info` (FLAC, 16-bit). False when no thread could start.
bool start_flac_writer(FlacWriter& writer, int fd, const SF_INFO& info, std::size_t threads);

// Takes `frames` interleaved frames. False after a failed write (errno in
// writer.error) or encoding.
bool flac_write(FlacWriter& writer, const int16_t* samples, std::size_t frames);

// Writes what is left and the stream's totals. False as for flac_write.
bool finish_flac_writer(FlacWriter& writer);

// Stops the encoder threads; what is not written is dropped.
void stop_flac_writer(FlacWriter& writer) noexcept;

// Encodes one segment as libsndfile writes a FLAC stream: with frames,
// libFLAC's stream of them at flac_level without the MD5 (nor `strings`);
// without, libsndfile's stream start with `strings`. False on failure.
bool encode_flac_segment(const SF_INFO& info, const SoundStrings& strings, FlacSegment& segment);

// Renumbers the encoded segment's frames for its place in the stream,
// every segment before it holding `segment_frames` frames. False when the
// stream is malformed or its block size does not divide `segment_frames`.
bool number_flac_segment(FlacSegment& segment, std::size_t segment_frames);

} // namespace tonbrix
