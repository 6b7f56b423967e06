#include "io/file_sink.h"
#include "io/file_source.h"
#include "io/sound_files.h"

#include <tonbrix/sound_file.h>

#include <optional>

namespace tonbrix {

namespace {

// A sound file opened for reading, read as a source.
class OpenSource final : public Source {
public:
    SoundFile file{input_close_error};
    std::optional<FileSource> reader;

    uint32_t channels() const override { return reader->channels(); }
    SourceRead read(const ChunkOutput& output, std::size_t frames) override
    {
        return reader->read(output, frames);
    }
    bool writes_interleaved() const override { return reader->writes_interleaved(); }
};

// A new sound file, opened once the render tells the channel count and
// committed to its path when the render finishes.
class NewFile final : public Sink {
public:
    SoundFileSettings files;
    SF_INFO info{};
    SoundFile file{output_close_error};
    std::optional<FileSink> writer;

    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override
    {
        if (Status opened = open_output_file(files, info, static_cast<int>(channels), file);
            !opened) {
            return opened.error();
        }
        FileSinkSettings settings;
        settings.file = file.handle;
        settings.written = file.written.fd >= 0 ? &file.written : nullptr;
        settings.name = file.name;
        settings.pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
        settings.fixed_pieces = encoding_depends_on_writes(file.format);
        writer.emplace(settings);
        return writer->prepare(channels, frames, jobs);
    }
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override
    {
        return writer->write(channels, count, frames);
    }
    std::optional<Error> finish() override
    {
        if (auto error = writer->finish()) {
            return error;
        }
        if (Status closed = close_output_file(file, true); !closed) {
            return closed.error();
        }
        return std::nullopt;
    }
};

} // namespace

std::string sndfile_version()
{
    return sf_version_string();
}

Result<SoundFileSource> open_sound_file(const std::string& path)
{
    auto source = std::make_unique<OpenSource>();
    SoundFileSettings files;
    files.input = path;
    SF_INFO info{};
    if (Status opened = open_input_file(files, source->file, info); !opened) {
        return opened.error();
    }
    source->reader.emplace(source->file.handle, static_cast<uint32_t>(info.channels));
    return SoundFileSource{std::move(source), SoundFormat{info.samplerate, info.format}};
}

Result<std::unique_ptr<Sink>> create_sound_file(const std::string& path, SoundFormat format)
{
    auto sink = std::make_unique<NewFile>();
    sink->files.output = path;
    sink->info.samplerate = format.sample_rate;
    sink->info.format = format.format;
    return std::unique_ptr<Sink>(std::move(sink));
}

} // namespace tonbrix
