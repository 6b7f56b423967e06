#include "io/flac/flac_writer.h"

#include "io/memory_file.h"

#include <FLAC/stream_encoder.h>

// Exported by libFLAC (its own flac program turns the MD5 off with it) but
// declared only in its protected headers.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder,
                                                      FLAC__bool value);

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace tonbrix {

namespace {

void encoder_main(FlacWriter* writer)
{
    for (;;) {
        FlacSegment* segment = nullptr;
        {
            std::unique_lock lock(writer->mutex);
            writer->work.wait(lock, [&] { return writer->stopping || !writer->waiting.empty(); });
            if (writer->stopping) {
                return;
            }
            segment = writer->waiting.front();
            writer->waiting.pop_front();
        }
        bool encoded = false;
        try {
            encoded = encode_flac_segment(writer->info, writer->strings, *segment) &&
                      number_flac_segment(*segment, writer->segment_frames);
        } catch (const std::bad_alloc&) {
            encoded = false;
        }
        std::lock_guard lock(writer->mutex);
        segment->failed = !encoded;
        segment->done = true;
        writer->finished.notify_all();
    }
}

bool write_all(FlacWriter& writer, const uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(writer.fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            writer.error = n < 0 ? errno : EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes a numbered segment's frames after the ones before it.
bool write_segment(FlacWriter& writer, const FlacSegment& segment)
{
    if (segment.failed || segment.first_frame != writer.frames_written) {
        writer.error = -1;
        return false;
    }
    if (writer.header.empty()) {
        // libsndfile's metadata for the stream (with the strings), the
        // block sizes of the first segment's; the totals are written at
        // the end.
        FlacSegment empty;
        std::size_t frames_offset = 0;
        if (!encode_flac_segment(writer.info, writer.strings, empty) ||
            !find_flac_frames(empty.stream, frames_offset, writer.stream_info_offset)) {
            writer.error = -1;
            return false;
        }
        writer.header.assign(empty.stream.begin(),
                             empty.stream.begin() + static_cast<std::ptrdiff_t>(frames_offset));
        std::memcpy(writer.header.data() + writer.stream_info_offset,
                    segment.stream.data() + segment.stream_info_offset, 4);
        if (!write_all(writer, writer.header.data(), writer.header.size())) {
            return false;
        }
    }
    FlacTotals& t = writer.totals;
    if (segment.frame_count > 0) {
        t.min_frame_size = writer.frames_written == 0 ? segment.min_frame_size
                                                      : std::min(t.min_frame_size, segment.min_frame_size);
        t.max_frame_size = std::max(t.max_frame_size, segment.max_frame_size);
    }
    writer.frames_written += segment.frame_count;
    t.samples += segment.frames;
    return write_all(writer, segment.frames_out.data(), segment.frames_out.size());
}

// Writes segments from the front: waits for them while more than `keep`
// are held, then takes those already encoded. False after a failure.
bool write_ready(FlacWriter& writer, std::size_t keep)
{
    for (;;) {
        std::unique_ptr<FlacSegment> segment;
        {
            std::unique_lock lock(writer.mutex);
            if (writer.order.empty()) {
                return true;
            }
            if (writer.order.size() > keep) {
                writer.finished.wait(lock, [&] { return writer.order.front()->done; });
            } else if (!writer.order.front()->done) {
                return true;
            }
            segment = std::move(writer.order.front());
            writer.order.pop_front();
        }
        if (!write_segment(writer, *segment)) {
            return false;
        }
        if (writer.spare.size() < writer.spare.capacity()) {
            writer.spare.push_back(std::move(segment));
        }
    }
}

bool dispatch(FlacWriter& writer)
{
    {
        std::lock_guard lock(writer.mutex);
        writer.filling->index = writer.segments++;
        writer.waiting.push_back(writer.filling.get());
        writer.order.push_back(std::move(writer.filling));
    }
    writer.work.notify_one();
    // Bounded: at most `in_flight` segments are held.
    return write_ready(writer, writer.in_flight - 1);
}

// The next segment to fill: a written one again, its buffers kept.
bool new_segment(FlacWriter& writer)
{
    if (!writer.spare.empty()) {
        writer.filling = std::move(writer.spare.back());
        writer.spare.pop_back();
        FlacSegment& s = *writer.filling;
        s.frames = 0;
        s.stream.clear();
        s.writes.clear();
        s.frames_out.clear();
        s.done = false;
        s.failed = false;
        return true;
    }
    try {
        writer.filling = std::make_unique<FlacSegment>();
        writer.filling->samples.resize(writer.segment_frames *
                                       static_cast<std::size_t>(writer.info.channels));
        writer.spare.reserve(writer.in_flight);
    } catch (const std::bad_alloc&) {
        writer.error = ENOMEM;
        return false;
    }
    return true;
}

void add_to_md5(Md5& md5, const int16_t* samples, std::size_t count)
{
    if constexpr (std::endian::native == std::endian::little) {
        md5.add(reinterpret_cast<const uint8_t*>(samples), count * sizeof(int16_t));
    } else {
        uint8_t bytes[512];
        while (count > 0) {
            const std::size_t n = std::min<std::size_t>(count, sizeof bytes / 2);
            for (std::size_t i = 0; i < n; ++i) {
                const auto value = static_cast<uint16_t>(samples[i]);
                bytes[2 * i] = static_cast<uint8_t>(value);
                bytes[2 * i + 1] = static_cast<uint8_t>(value >> 8);
            }
            md5.add(bytes, n * 2);
            samples += n;
            count -= n;
        }
    }
}

} // namespace

namespace {

// libFLAC's write callback: appends to the segment's stream and notes where
// each write began.
FLAC__StreamEncoderWriteStatus append_encoded(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                              size_t bytes, uint32_t, uint32_t, void* data) noexcept
{
    auto* segment = static_cast<FlacSegment*>(data);
    try {
        segment->writes.push_back(segment->stream.size());
        segment->stream.insert(segment->stream.end(), buffer, buffer + bytes);
    } catch (const std::bad_alloc&) {
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

struct FreeEncoder {
    void operator()(FLAC__StreamEncoder* encoder) const noexcept { FLAC__stream_encoder_delete(encoder); }
};

// The stream's start as libsndfile writes it: "fLaC" and the metadata,
// with the strings.
bool encode_flac_header(const SF_INFO& info, const SoundStrings& strings, FlacSegment& segment)
{
    SF_VIRTUAL_IO io = memory_file_io();
    MemoryFile device;
    device.write_starts = &segment.writes;
    SF_INFO settings = info;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &settings, &device);
    bool encoded = file != nullptr;
    if (file != nullptr) {
        write_sound_strings(file, strings);
        // Without frames, libsndfile writes the stream's start only when asked.
        encoded = sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0) == 0;
        encoded = sf_close(file) == 0 && encoded;
    }
    segment.stream = std::move(device.bytes);
    return encoded;
}

} // namespace

bool encode_flac_segment(const SF_INFO& info, const SoundStrings& strings,
                         FlacSegment& segment)
{
    segment.stream.clear();
    segment.writes.clear();
    if (segment.frames == 0) {
        return encode_flac_header(info, strings, segment);
    }
    // The audio by libFLAC itself, as libsndfile would have it encode it
    // but without the MD5 of the segment (the writer makes the stream's).
    const std::unique_ptr<FLAC__StreamEncoder, FreeEncoder> encoder(FLAC__stream_encoder_new());
    if (!encoder) {
        return false;
    }
    FLAC__StreamEncoder* e = encoder.get();
    const auto channels = static_cast<std::size_t>(info.channels);
    if (!FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(info.channels)) ||
        !FLAC__stream_encoder_set_bits_per_sample(e, 16) ||
        !FLAC__stream_encoder_set_sample_rate(e, static_cast<uint32_t>(info.samplerate)) ||
        !FLAC__stream_encoder_set_compression_level(e, flac_level) ||
        !FLAC__stream_encoder_set_do_md5(e, false) ||
        FLAC__stream_encoder_init_stream(e, append_encoded, nullptr, nullptr, nullptr, &segment) !=
            FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        return false;
    }
    // Room for the stream at once: the encoded audio is rarely larger.
    segment.stream.reserve(segment.frames * channels * 2 + 8192);
    // libFLAC takes 32-bit samples: converted a piece at a time.
    constexpr std::size_t piece = 4096;
    FLAC__int32 wide[piece * 8];
    const std::size_t frames_per_piece = sizeof wide / sizeof wide[0] / channels;
    bool encoded = true;
    for (std::size_t at = 0; at < segment.frames && encoded;) {
        const std::size_t n = std::min(frames_per_piece, segment.frames - at);
        const int16_t* from = segment.samples.data() + at * channels;
        for (std::size_t i = 0; i < n * channels; ++i) {
            wide[i] = from[i];
        }
        encoded = FLAC__stream_encoder_process_interleaved(e, wide, static_cast<uint32_t>(n));
        at += n;
    }
    return FLAC__stream_encoder_finish(e) && encoded;
}

bool number_flac_segment(FlacSegment& segment, std::size_t segment_frames)
{
    const std::span<const uint8_t> stream(segment.stream);
    std::size_t frames_offset = 0;
    std::size_t info_offset = 0;
    if (!find_flac_frames(stream, frames_offset, info_offset)) {
        return false;
    }
    segment.header_size = frames_offset;
    segment.stream_info_offset = info_offset;
    const std::size_t block = std::size_t{stream[info_offset]} << 8 | stream[info_offset + 1];
    if (block == 0 || segment_frames % block != 0) {
        return false;
    }
    segment.first_frame = segment.index * (segment_frames / block);
    // libsndfile writes each frame in one piece: the writes after the
    // metadata are the frames. A later write inside the metadata (the
    // segment's own totals) is left out.
    std::vector<std::size_t> starts;
    for (const std::size_t at : segment.writes) {
        if (at >= frames_offset && (starts.empty() || at > starts.back())) {
            starts.push_back(at);
        }
    }
    segment.frames_out.clear();
    segment.frames_out.reserve(stream.size() - frames_offset + starts.size() * 4);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : stream.size();
        const std::size_t before = segment.frames_out.size();
        if (!append_renumbered_frame(stream.subspan(starts[i], end - starts[i]),
                                     segment.first_frame + i, segment.frames_out)) {
            return false;
        }
        const auto size = static_cast<uint32_t>(segment.frames_out.size() - before);
        segment.min_frame_size = i == 0 ? size : std::min(segment.min_frame_size, size);
        segment.max_frame_size = std::max(segment.max_frame_size, size);
    }
    segment.frame_count = starts.size();
    return true;
}

bool start_flac_writer(FlacWriter& writer, int fd, const SF_INFO& info, std::size_t threads)
{
    writer.fd = fd;
    writer.start = std::max<off_t>(::lseek(fd, 0, SEEK_CUR), 0);
    writer.info = info;
    writer.segment_frames = flac_segment_frames;
    writer.in_flight = threads + 2;
    if (!new_segment(writer)) {
        return false;
    }
    try {
        for (std::size_t t = 0; t < std::max<std::size_t>(threads, 1); ++t) {
            writer.encoders.emplace_back(encoder_main, &writer);
        }
    } catch (const std::system_error&) {
        if (writer.encoders.empty()) {
            return false;
        }
    }
    return true;
}

bool flac_write(FlacWriter& writer, const int16_t* samples, std::size_t frames)
{
    const auto channels = static_cast<std::size_t>(writer.info.channels);
    add_to_md5(writer.md5, samples, frames * channels);
    while (frames > 0) {
        FlacSegment& segment = *writer.filling;
        const std::size_t n = std::min(frames, writer.segment_frames - segment.frames);
        std::memcpy(segment.samples.data() + segment.frames * channels, samples,
                    n * channels * sizeof(int16_t));
        segment.frames += n;
        samples += n * channels;
        frames -= n;
        if (segment.frames == writer.segment_frames &&
            (!dispatch(writer) || !new_segment(writer))) {
            return false;
        }
    }
    return true;
}

bool finish_flac_writer(FlacWriter& writer)
{
    if (writer.filling == nullptr || (writer.filling->frames > 0 && !dispatch(writer))) {
        return false;
    }
    if (!write_ready(writer, 0)) {
        return false;
    }
    if (writer.header.empty()) {
        // No audio at all: the stream is libsndfile's empty one, as it is.
        FlacSegment empty;
        if (!encode_flac_segment(writer.info, writer.strings, empty)) {
            writer.error = -1;
            return false;
        }
        return write_all(writer, empty.stream.data(), empty.stream.size());
    }
    writer.totals.md5 = writer.md5.finish();
    uint8_t* info = writer.header.data() + writer.stream_info_offset;
    write_flac_totals(info, writer.totals);
    const off_t at = writer.start + static_cast<off_t>(writer.stream_info_offset);
    const ssize_t n = ::pwrite(writer.fd, info, stream_info_size, at);
    if (n != static_cast<ssize_t>(stream_info_size)) {
        writer.error = n < 0 ? errno : EIO;
        return false;
    }
    return true;
}

void stop_flac_writer(FlacWriter& writer) noexcept
{
    {
        std::lock_guard lock(writer.mutex);
        writer.stopping = true;
    }
    writer.work.notify_all();
    for (std::thread& thread : writer.encoders) {
        thread.join();
    }
    writer.encoders.clear();
}

FlacWriter::~FlacWriter()
{
    stop_flac_writer(*this);
}

} // namespace tonbrix
