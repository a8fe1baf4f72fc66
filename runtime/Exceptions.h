#pragma once

#include "runtime/ClassRecord.h"

#include <exception>

// The runtime's exceptions are runtime objects with a message; Raise throws
// them as a C++ exception that carries the object.
class RuntimeException : public RuntimeClass<RuntimeException> {
public:
    String Message;
    static ClassRecord buildRecord();
};

class NilObjectException : public RuntimeClass<NilObjectException, RuntimeException> {
public:
    static ClassRecord buildRecord();
};

class OutOfBoundsException : public RuntimeClass<OutOfBoundsException, RuntimeException> {
public:
    static ClassRecord buildRecord();
};

class IllegalCastException : public RuntimeClass<IllegalCastException, RuntimeException> {
public:
    static ClassRecord buildRecord();
};

// Memory for a picture or a buffer could not be had.
class OutOfMemoryException : public RuntimeClass<OutOfMemoryException, RuntimeException> {
public:
    static ClassRecord buildRecord();
};

// A file could not be read or written.
class IOException : public RuntimeClass<IOException, RuntimeException> {
public:
    static ClassRecord buildRecord();
};

// The C++ exception that carries a raised runtime exception.
class RaisedException : public std::exception {
public:
    explicit RaisedException(Ref<RuntimeException> exception);
    Ref<RuntimeException> const& exception() const { return m_exception; }
    char const* what() const noexcept override;

private:
    Ref<RuntimeException> m_exception;
};

[[noreturn]] void Raise(Ref<RuntimeException> exception);

template <class E>
[[noreturn]] void Raise(String message = {})
{
    Ref<E> exception = RuntimeNewObject<E>();
    exception->Message = std::move(message);
    Raise(Ref<RuntimeException>(exception));
}
