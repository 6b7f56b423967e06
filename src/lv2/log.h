#pragma once

#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <atomic>
#include <tonbrix/events.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace tonbrix {

// What the instances of a run log through: errors and warnings become
// one plugin_log event each, a line prefixed "plugin: "; notes and traces
// are dropped. Each instance has a handle of its own (InstanceLog) that
// names where its lines go; the count is shared.
struct LogContext {
    // Errors and warnings logged so far by any instance (some plugins
    // report a failure as a warning).
    std::atomic<uint64_t> errors{0};
    LV2_URID error = 0;
    LV2_URID warning = 0;
};

// One instance's log handle: the run's context, and the sink that takes
// the instance's lines (it must take calls from any thread). Neither
// changes while the instance lives.
struct InstanceLog {
    LogContext* context = nullptr;
    EventSink* events = nullptr;
};

// The longest message text kept; longer messages are cut.
inline constexpr std::size_t log_text_capacity = 1024;

extern "C" {
int log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...);
int log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args);
}

// Sets the message types; the context must not move afterwards.
void init_log_context(LogContext& context, LV2_URID error, LV2_URID warning);

} // namespace tonbrix
