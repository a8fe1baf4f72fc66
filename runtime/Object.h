#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

// Text in the runtime is UTF-8 in a std::string.
using String = std::string;

class ClassRecord;
class Object;

// Raised by every use of an empty reference; defined with the exception classes.
[[noreturn]] void RaiseNilObjectException();

// Base of every runtime object: an intrusive reference count for one thread,
// the class record the object was made from, and a cell that weak references
// share so that they can tell when the object is gone.
class Object {
public:
    Object() = default;
    Object(Object const&) = delete;
    Object& operator=(Object const&) = delete;
    virtual ~Object();

    ClassRecord const& classRecord() const;
    bool isKindOf(ClassRecord const& record) const;

    void retain() const { ++m_references; }
    void release() const;
    int referenceCount() const { return m_references; }

    // The cell weak references hold: it points at the object while it lives.
    std::shared_ptr<Object*> const& weakCell() const;

private:
    friend class ClassRecord;
    mutable int m_references = 0;
    ClassRecord const* m_class = nullptr;
    mutable std::shared_ptr<Object*> m_weakCell;
};

// A counted reference to a runtime object. An empty reference is Nil: every
// dereference checks and raises NilObjectException instead of crashing.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) { }
    Ref(T* object) : m_object(object) { retainObject(); }
    Ref(Ref const& other) : m_object(other.m_object) { retainObject(); }
    Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) { }
    template <class U>
        requires std::is_convertible_v<U*, T*>
    Ref(Ref<U> const& other) : m_object(other.get()) { retainObject(); }
    template <class U>
        requires std::is_convertible_v<U*, T*>
    Ref(Ref<U>&& other) noexcept : m_object(other.leak()) { }
    ~Ref() { releaseObject(); }

    // Assignment takes the new value first, then releases the old one, so a
    // finaliser that the release runs sees the new value already in place.
    Ref& operator=(Ref other) noexcept
    {
        T* old = std::exchange(m_object, std::exchange(other.m_object, nullptr));
        if (old)
            old->release();
        return *this;
    }
    Ref& operator=(std::nullptr_t) { return *this = Ref(); }

    T* operator->() const { return &checked(); }
    T& operator*() const { return checked(); }
    T& checked() const
    {
        if (!m_object)
            RaiseNilObjectException();
        return *m_object;
    }

    T* get() const { return m_object; }
    bool isNil() const { return m_object == nullptr; }
    explicit operator bool() const { return m_object != nullptr; }

    // Gives up the reference without releasing it; the caller takes it over.
    T* leak() { return std::exchange(m_object, nullptr); }

    // Takes the value out and leaves the reference empty before the value is
    // released: the order in which globals are let go at shut-down.
    void clear() { Ref taken = std::move(*this); }

    template <class U>
    bool operator==(Ref<U> const& other) const { return m_object == other.get(); }
    bool operator==(std::nullptr_t) const { return m_object == nullptr; }

private:
    void retainObject() const
    {
        if (m_object)
            m_object->retain();
    }
    void releaseObject()
    {
        if (T* old = std::exchange(m_object, nullptr))
            old->release();
    }
    T* m_object = nullptr;
};

// A reference that does not keep its object alive; it turns Nil when the
// object goes.
template <class T>
class WeakRef {
public:
    WeakRef() = default;
    WeakRef(Ref<T> const& object)
    {
        if (object)
            m_cell = object->weakCell();
    }
    Ref<T> lock() const
    {
        if (!m_cell || !*m_cell)
            return nullptr;
        return Ref<T>(static_cast<T*>(*m_cell));
    }

private:
    std::shared_ptr<Object*> m_cell;
};
