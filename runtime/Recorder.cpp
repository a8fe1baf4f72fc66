#include "runtime/Recorder.h"

namespace {
Recorder& current()
{
    static Recorder recorder;
    return recorder;
}
}

namespace recorder_detail {
bool attached = false;

void record(String operation, std::vector<String> arguments)
{
    // A copy, so that a recorder may detach itself while it records.
    Recorder const recorder = current();
    if (recorder)
        recorder(RecordedCall { std::move(operation), std::move(arguments) });
}
}

void RuntimeAttachRecorder(Recorder recorder)
{
    current() = std::move(recorder);
    recorder_detail::attached = static_cast<bool>(current());
}
