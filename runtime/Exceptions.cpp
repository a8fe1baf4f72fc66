#include "runtime/Exceptions.h"

namespace {
template <class E, class Super>
ClassRecord exceptionRecord(char const* name)
{
    return ClassRecordBuilder<E>(name, &Super::Lookup_()).build();
}
}

ClassRecord RuntimeException::buildRecord()
{
    return ClassRecordBuilder<RuntimeException>("RuntimeException")
        .property("Message", "s", { PublicScope }, &RuntimeException::Message)
        .build();
}

ClassRecord NilObjectException::buildRecord() { return exceptionRecord<NilObjectException, RuntimeException>("NilObjectException"); }
ClassRecord OutOfBoundsException::buildRecord() { return exceptionRecord<OutOfBoundsException, RuntimeException>("OutOfBoundsException"); }
ClassRecord IllegalCastException::buildRecord() { return exceptionRecord<IllegalCastException, RuntimeException>("IllegalCastException"); }
ClassRecord OutOfMemoryException::buildRecord() { return exceptionRecord<OutOfMemoryException, RuntimeException>("OutOfMemoryException"); }
ClassRecord IOException::buildRecord() { return exceptionRecord<IOException, RuntimeException>("IOException"); }

RaisedException::RaisedException(Ref<RuntimeException> exception)
    : m_exception(std::move(exception))
{
}

char const* RaisedException::what() const noexcept
{
    return m_exception ? m_exception->Message.c_str() : "";
}

void Raise(Ref<RuntimeException> exception)
{
    if (!exception)
        RaiseNilObjectException();
    throw RaisedException(std::move(exception));
}

void RaiseNilObjectException()
{
    Raise<NilObjectException>();
}

void RaiseRuntimeException(String message)
{
    Raise<RuntimeException>(std::move(message));
}
