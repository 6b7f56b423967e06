#include "engine/parameter_settling.h"

#include <cstring>

namespace tonbrix {

namespace {

uint64_t scheduled_jobs(const std::vector<WorkerContext*>& workers)
{
    uint64_t count = 0;
    for (const WorkerContext* worker : workers) {
        count += worker != nullptr ? worker->scheduled : 0;
    }
    return count;
}

// The control outputs of every instance, one after the other.
std::vector<float> control_outputs(const RunBuffers& buffers)
{
    std::vector<float> values;
    for (const InstanceBuffers& own : buffers.instances) {
        values.insert(values.end(), own.control_outputs.begin(), own.control_outputs.end());
    }
    return values;
}

// Equal, NaN counting as equal to NaN: a meter that reads NaN is steady.
bool same_values(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

} // namespace

void run_instances_block(const SettleRun& run)
{
    const std::vector<WorkerContext*>& workers = *run.workers;
    for (std::size_t m = 0; m < run.instances->size(); ++m) {
        InstanceBuffers& own = run.buffers->instances[m];
        for (AtomBuffer& atoms : own.atom_outputs) {
            prepare_atom_output(atoms, run.urids->atom_Chunk);
        }
        lilv_instance_run((*run.instances)[m], run.shape.block_size);
        if (m < workers.size() && workers[m] != nullptr) {
            end_worker_run(*workers[m]);
        }
        for (AtomBuffer& atoms : own.atom_inputs) {
            reset_atom_input(atoms, run.urids->atom_Sequence);
        }
    }
}

SettleResult settle_parameters(const SettleRun& run)
{
    const BlockShape& s = run.shape;
    RunBuffers& buffers = *run.buffers;
    const std::vector<WorkerContext*>& workers = *run.workers;
    const uint64_t errors_before = run.log_errors->load();

    std::memset(buffers.input_ports.data, 0,
                std::size_t{s.instances} * s.inputs * s.block_size * sizeof(float));
    std::vector<float> outputs = control_outputs(buffers);
    uint64_t jobs = scheduled_jobs(workers);
    int quiet = 0;
    SettleResult result = SettleResult::unfinished;
    for (uint64_t frames = 0; frames < run.longest_frames; frames += s.block_size) {
        if (run.stop != nullptr && run.stop->load() != 0) {
            return SettleResult::stopped;
        }
        run_instances_block(run);
        const uint64_t now_jobs = scheduled_jobs(workers);
        std::vector<float> now_outputs = control_outputs(buffers);
        const bool busy = now_jobs != jobs || !same_values(now_outputs, outputs);
        jobs = now_jobs;
        outputs = std::move(now_outputs);
        quiet = busy ? 0 : quiet + 1;
        if (quiet >= settle_quiet_blocks) {
            result = SettleResult::settled;
            break;
        }
    }
    if (run.log_errors->load() != errors_before) {
        return SettleResult::plugin_error;
    }
    return result;
}

} // namespace tonbrix
