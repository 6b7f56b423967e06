#include "lv2/log.h"

#include <array>
#include <cstring>

namespace tonbrix {

namespace {

// "plugin: ", the formatted text with its line breaks turned into spaces,
// and one newline. Returns the length of the line in `line`.
std::size_t format_line(std::array<char, log_text_capacity + 16>& line, const char* format,
                        va_list args)
{
    static constexpr char prefix[] = "plugin: ";
    constexpr std::size_t prefix_length = sizeof(prefix) - 1;
    std::memcpy(line.data(), prefix, prefix_length);
    char* text = line.data() + prefix_length;
    const int written = std::vsnprintf(text, log_text_capacity + 1, format, args);
    std::size_t length = 0;
    if (written > 0) {
        length = static_cast<std::size_t>(written) < log_text_capacity
                     ? static_cast<std::size_t>(written)
                     : log_text_capacity;
    }
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) {
        --length;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            text[i] = ' ';
        }
    }
    text[length] = '\n';
    text[length + 1] = '\0';
    return prefix_length + length + 1;
}

} // namespace

extern "C" int log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format,
                           va_list args)
{
    const auto* log = static_cast<const InstanceLog*>(handle);
    if (log == nullptr || log->context == nullptr || format == nullptr) {
        return 0;
    }
    LogContext& context = *log->context;
    if (type != context.error && type != context.warning) {
        return 0;
    }
    context.errors.fetch_add(1, std::memory_order_relaxed);
    std::array<char, log_text_capacity + 16> line{};
    const std::size_t length = format_line(line, format, args);
    if (log->events != nullptr) {
        log->events->report(EventKind::plugin_log, std::string_view(line.data()));
    }
    return static_cast<int>(length);
}

extern "C" int log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = log_vprintf(handle, type, format, args);
    va_end(args);
    return result;
}

void init_log_context(LogContext& context, LV2_URID error, LV2_URID warning)
{
    context.error = error;
    context.warning = warning;
}

} // namespace tonbrix
