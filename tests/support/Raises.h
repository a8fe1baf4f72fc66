#pragma once

#include "runtime/Exceptions.h"

#include <gtest/gtest.h>

#include <functional>

// Runs the call and gives back the runtime exception it raised, or Nil.
inline Ref<RuntimeException> raisedBy(std::function<void()> const& call)
{
    try {
        call();
    } catch (RaisedException const& raised) {
        return raised.exception();
    }
    return nullptr;
}

// True when the call raised an exception of class E with the given message.
template <class E>
::testing::AssertionResult raises(std::function<void()> const& call, String const& message)
{
    Ref<RuntimeException> const exception = raisedBy(call);
    if (!exception)
        return ::testing::AssertionFailure() << "nothing was raised";
    if (!exception->isKindOf(E::Lookup_()))
        return ::testing::AssertionFailure() << "raised " << exception->classRecord().name << " instead";
    if (exception->Message != message)
        return ::testing::AssertionFailure() << "message was \"" << exception->Message << "\"";
    return ::testing::AssertionSuccess();
}
