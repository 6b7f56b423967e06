// The worker: work at once, responses queued until the run is over, then
// delivered in order and followed by end_run.
#include "lv2/worker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace tonbrix;

namespace {

// A plugin's side of the worker that writes down every call it gets.
struct FakePlugin {
    std::vector<std::string> calls;
    LV2_Worker_Schedule* schedule = nullptr;
    bool schedule_from_response = false;
};

FakePlugin* plugin_of(LV2_Handle handle)
{
    return static_cast<FakePlugin*>(handle);
}

std::string text_of(uint32_t size, const void* data)
{
    return std::string(static_cast<const char*>(data), size);
}

extern "C" LV2_Worker_Status fake_work(LV2_Handle handle, LV2_Worker_Respond_Function respond,
                                       LV2_Worker_Respond_Handle respond_handle, uint32_t size,
                                       const void* data)
{
    const std::string job = text_of(size, data);
    plugin_of(handle)->calls.push_back("work " + job);
    // Two responses per job, to show that they keep their order.
    for (const std::string& answer : {job + "-a", job + "-b"}) {
        respond(respond_handle, static_cast<uint32_t>(answer.size()), answer.data());
    }
    return LV2_WORKER_SUCCESS;
}

extern "C" LV2_Worker_Status fake_response(LV2_Handle handle, uint32_t size, const void* data)
{
    FakePlugin* plugin = plugin_of(handle);
    plugin->calls.push_back("response " + text_of(size, data));
    if (plugin->schedule_from_response) {
        plugin->schedule_from_response = false;
        plugin->schedule->schedule_work(plugin->schedule->handle, 4, "late");
    }
    return LV2_WORKER_SUCCESS;
}

extern "C" LV2_Worker_Status fake_end_run(LV2_Handle handle)
{
    plugin_of(handle)->calls.push_back("end_run");
    return LV2_WORKER_SUCCESS;
}

// Counts the trace lines.
struct TraceCount final : EventSink {
    int lines = 0;
    void report(EventKind kind, std::string_view text) noexcept override
    {
        lines += kind == EventKind::worker_trace && text == worker_trace_line;
    }
};

struct Worker : ::testing::Test {
    const LV2_Worker_Interface interface{fake_work, fake_response, fake_end_run};
    FakePlugin plugin;
    TraceCount traces;
    WorkerContext context;
    LV2_Worker_Schedule schedule{&context, lv2_worker_schedule};

    void SetUp() override
    {
        context.instance = &plugin;
        context.interface = &interface;
        context.events = &traces;
        plugin.schedule = &schedule;
    }

    // What the plugin does in its run: schedules the jobs.
    void run(std::initializer_list<const char*> jobs)
    {
        for (const char* job : jobs) {
            const LV2_Worker_Status status = schedule.schedule_work(
                schedule.handle, static_cast<uint32_t>(std::strlen(job)), job);
            EXPECT_EQ(status, LV2_WORKER_SUCCESS);
        }
    }
};

using Calls = std::vector<std::string>;

} // namespace

TEST_F(Worker, ResponsesWaitForTheEndOfTheRunThenComeInOrderBeforeEndRun)
{
    run({"one", "two"});
    // The work ran at once; nothing was answered yet.
    EXPECT_EQ(plugin.calls, (Calls{"work one", "work two"}));
    EXPECT_EQ(traces.lines, 2);
    end_worker_run(context);
    EXPECT_EQ(plugin.calls, (Calls{"work one", "work two", "response one-a", "response one-b",
                                   "response two-a", "response two-b", "end_run"}));
    // A run without work still ends with end_run, and nothing is delivered twice.
    plugin.calls.clear();
    end_worker_run(context);
    EXPECT_EQ(plugin.calls, Calls{"end_run"});
}

TEST_F(Worker, WorkScheduledByAResponseIsAnsweredAfterTheNextRun)
{
    plugin.schedule_from_response = true;
    run({"x"});
    end_worker_run(context);
    EXPECT_EQ(plugin.calls, (Calls{"work x", "response x-a", "work late", "response x-b",
                                   "end_run"}));
    plugin.calls.clear();
    end_worker_run(context);
    EXPECT_EQ(plugin.calls, (Calls{"response late-a", "response late-b", "end_run"}));
}

TEST_F(Worker, ResponsesOutsideARunAreDeliveredWithoutEndRun)
{
    // A state restore schedules work: the plugin has the answer before it runs.
    run({"restore"});
    deliver_worker_responses(context);
    EXPECT_EQ(plugin.calls, (Calls{"work restore", "response restore-a", "response restore-b"}));
}

TEST_F(Worker, ScheduleWithoutWorkIsRefusedWithoutATraceLine)
{
    const LV2_Worker_Interface no_work{nullptr, fake_response, fake_end_run};
    context.interface = &no_work;
    EXPECT_EQ(schedule.schedule_work(schedule.handle, 1, "j"), LV2_WORKER_ERR_UNKNOWN);
    EXPECT_EQ(traces.lines, 0);
    EXPECT_TRUE(plugin.calls.empty());
}
