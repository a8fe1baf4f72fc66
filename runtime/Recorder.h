#pragma once

#include "runtime/Object.h"

#include <functional>
#include <vector>

// A window onto what the framework does, for tests: when a recorder is
// attached, framework operations report themselves to it by name with their
// arguments as text. Nothing is written anywhere when none is attached.
struct RecordedCall {
    String operation;
    std::vector<String> arguments;
};

using Recorder = std::function<void(RecordedCall const&)>;

// Attaches a recorder, replacing any other; an empty one detaches.
void RuntimeAttachRecorder(Recorder recorder);

namespace recorder_detail {
extern bool attached;
void record(String operation, std::vector<String> arguments);
}

inline bool RuntimeRecording() { return recorder_detail::attached; }

inline void RuntimeRecord(String operation, std::vector<String> arguments = {})
{
    if (recorder_detail::attached)
        recorder_detail::record(std::move(operation), std::move(arguments));
}
