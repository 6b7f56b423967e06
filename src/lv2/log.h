#pragma once

#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <atomic>
#include <tonbrix/events.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace tonbrix {

// What a plugin's log feature reports through: errors and warnings become
// one plugin_log event each, a line prefixed "plugin: "; notes and traces
// are dropped. Instances on several threads may log at once, so each line
// is reported whole under the lock.
struct LogContext {
    // Errors and warnings logged so far (some plugins report a failure
    // as a warning).
    std::atomic<uint64_t> errors{0};
    LV2_URID error = 0;
    LV2_URID warning = 0;
    EventSink* events = nullptr;
    std::mutex lock;
};

// The longest message text kept; longer messages are cut.
inline constexpr std::size_t log_text_capacity = 1024;

extern "C" {
int log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...);
int log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args);
}

// Sets the message types and the sink; the context must not move afterwards.
void init_log_context(LogContext& context, LV2_URID error, LV2_URID warning, EventSink* events);

} // namespace tonbrix
