#include "runtime/Object.h"

#include "runtime/ClassRecord.h"
#include "runtime/Recorder.h"

Object::~Object()
{
    if (m_weakCell)
        *m_weakCell = nullptr;
}

ClassRecord const& Object::classRecord() const
{
    if (!m_class)
        RaiseRuntimeException("an object was made without its class record");
    return *m_class;
}

bool Object::isKindOf(ClassRecord const& record) const
{
    return m_class && m_class->inheritsFrom(record);
}

void Object::release() const
{
    if (--m_references > 0)
        return;
    // The finalisers run most derived first; each may release what the
    // object holds, in the order its class fixes. The object is kept alive
    // with one reference while they run, so that they can hand it around.
    if (m_weakCell)
        *m_weakCell = nullptr;
    auto* self = const_cast<Object*>(this);
    if (RuntimeRecording() && m_class)
        RuntimeRecord("Free", { m_class->name });
    m_references = 1;
    for (ClassRecord const* record = m_class; record; record = record->superclass) {
        if (record->finaliser)
            record->finaliser(*self);
    }
    m_references = 0;
    delete self;
}

std::shared_ptr<Object*> const& Object::weakCell() const
{
    if (!m_weakCell)
        m_weakCell = std::make_shared<Object*>(const_cast<Object*>(this));
    return m_weakCell;
}
