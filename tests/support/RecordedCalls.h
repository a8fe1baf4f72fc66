#pragma once

#include "runtime/Recorder.h"

#include <algorithm>
#include <iterator>
#include <vector>

// The framework's calls as a recorder saw them, with ways to find them.
struct RecordedCalls {
    std::vector<RecordedCall> calls;

    // The position of the first call of that operation with those leading
    // arguments, or -1.
    long indexOf(String const& operation, std::vector<String> const& arguments = {}, long from = 0) const
    {
        for (long i = from; i < static_cast<long>(calls.size()); ++i) {
            RecordedCall const& call = calls[static_cast<std::size_t>(i)];
            if (call.operation == operation && call.arguments.size() >= arguments.size()
                && std::equal(arguments.begin(), arguments.end(), call.arguments.begin()))
                return i;
        }
        return -1;
    }

    std::vector<RecordedCall> only(String const& operation) const
    {
        std::vector<RecordedCall> found;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(found), [&](RecordedCall const& c) { return c.operation == operation; });
        return found;
    }

    long count(String const& operation, std::vector<String> const& arguments = {}) const
    {
        long n = 0;
        for (long i = indexOf(operation, arguments); i >= 0; i = indexOf(operation, arguments, i + 1))
            ++n;
        return n;
    }
};
