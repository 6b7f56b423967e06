#include "errors.h"
#include "file_batch.h"
#include "knowledge.h"
#include "runner.h"
#include "steps.h"

#include <tonbrix/midi.h>
#include <tonbrix/number_text.h>

#include <pybind11/pybind11.h>

#include <string>

namespace py = pybind11;

PYBIND11_MODULE(_tonbrix, module)
{
    module.doc() = "The native part of the tonbrix package; use it through `import tonbrix`.";
    tonbrix::python::define_errors(module);
    tonbrix::python::define_knowledge(module);
    tonbrix::python::define_runner(module);
    tonbrix::python::define_file_batch(module);
    module.def(
        "_read_midi_file",
        [](const std::string& path) {
            const tonbrix::MidiSequence sequence =
                tonbrix::python::value_or_raise(tonbrix::read_midi_file(path));
            py::list tempo;
            for (const tonbrix::TempoChange& change : sequence.tempo_changes) {
                tempo.append(py::make_tuple(change.seconds, change.bpm));
            }
            return py::make_tuple(tonbrix::python::midi_events_list(sequence), tempo,
                                  sequence.length_seconds);
        },
        py::arg("path"),
        "A Standard MIDI File's (events [(seconds, bytes)], tempo changes, length in seconds).");
    module.def(
        "_float_text", [](float value) { return tonbrix::float_text(value); }, py::arg("value"),
        "The shortest decimal text that reads back as the same float, as messages show it.");
}
