#include "support/midi.h"

#include <gtest/gtest.h>

namespace {

void put_number(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void put_varlen(std::string& out, std::uint32_t value)
{
    std::string reversed(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0) {
        reversed.push_back(static_cast<char>((value & 0x7F) | 0x80));
    }
    out.append(reversed.rbegin(), reversed.rend());
}

} // namespace

std::string midi_file(std::uint16_t format, std::uint16_t division,
                      const std::vector<std::vector<MidiItem>>& tracks, std::uint32_t end_tick)
{
    std::string out = "MThd";
    put_number(out, 6, 4);
    put_number(out, format, 2);
    put_number(out, static_cast<std::uint32_t>(tracks.size()), 2);
    put_number(out, division, 2);
    for (const std::vector<MidiItem>& track : tracks) {
        std::string body;
        std::uint32_t last = 0;
        for (const MidiItem& item : track) {
            put_varlen(body, item.tick - last);
            body.append(item.bytes.begin(), item.bytes.end());
            last = item.tick;
        }
        put_varlen(body, end_tick > last ? end_tick - last : 0);
        body += "\xFF\x2F";
        body.push_back('\0');
        out += "MTrk";
        put_number(out, static_cast<std::uint32_t>(body.size()), 4);
        out += body;
    }
    return out;
}

MidiBytes midi_tempo(std::uint32_t microseconds)
{
    return {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(microseconds >> 16),
            static_cast<std::uint8_t>(microseconds >> 8), static_cast<std::uint8_t>(microseconds)};
}

ReadMidiFile read_midi(const std::string& text)
{
    ReadMidiFile file;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t size = text.size();
    std::size_t at = 0;
    const auto number = [&](int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count && at < size; ++i) {
            value = (value << 8) | bytes[at++];
        }
        return value;
    };
    const auto varlen = [&] {
        std::uint32_t value = 0;
        while (at < size) {
            const std::uint8_t b = bytes[at++];
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) {
                break;
            }
        }
        return value;
    };
    if (text.compare(0, 4, "MThd") != 0) {
        ADD_FAILURE() << "no MThd";
        return file;
    }
    at = 8;
    file.format = static_cast<int>(number(2));
    const std::uint32_t tracks = number(2);
    file.division = static_cast<int>(number(2));
    EXPECT_EQ(tracks, 1u);
    EXPECT_GT(file.division, 0);
    if (text.compare(at, 4, "MTrk") != 0 || file.division <= 0) {
        ADD_FAILURE() << "no MTrk";
        return file;
    }
    at += 4;
    const std::uint32_t length = number(4);
    const std::size_t end = at + length;
    EXPECT_EQ(end, size);
    double seconds = 0.0;
    double tick_seconds = 0.5 / file.division;
    std::uint8_t status = 0;
    while (at < end && at < size) {
        seconds += varlen() * tick_seconds;
        std::uint8_t first = bytes[at];
        if (first == 0xFF) {
            const std::uint8_t type = bytes[at + 1];
            at += 2;
            const std::uint32_t length = varlen();
            if (type == 0x51 && length == 3) {
                const std::uint32_t us = number(3);
                tick_seconds = us / 1e6 / file.division;
                continue;
            }
            at += length;
            if (type == 0x2F) {
                file.end_seconds = seconds;
                EXPECT_EQ(at, end);
                break;
            }
            continue;
        }
        if (first == 0xF0 || first == 0xF7) {
            ++at;
            const std::uint32_t length = varlen();
            MidiBytes message;
            if (first == 0xF0) {
                message.push_back(0xF0);
            }
            for (std::size_t i = at; i < std::min<std::size_t>(size, at + length); ++i) {
                message.push_back(bytes[i]);
            }
            at += length;
            file.events.push_back({seconds, message});
            continue;
        }
        if (first & 0x80) {
            status = first;
            ++at;
        }
        const int data = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        MidiBytes message = {status};
        for (int i = 0; i < data && at < size; ++i) {
            message.push_back(bytes[at++]);
        }
        file.events.push_back({seconds, message});
    }
    return file;
}
