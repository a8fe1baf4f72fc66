#include "runtime/ClassRecord.h"

#include "runtime/Exceptions.h"
#include "runtime/Recorder.h"

#include <deque>
#include <map>

namespace {
struct Registry {
    std::deque<ClassRecord> records; // a deque keeps every record at its address
    std::map<String, ClassRecord const*, std::less<>> byName;
    std::map<String, int, std::less<>> builds;
};

// Records live until the process ends: objects still held by globals at
// exit find their record when they are let go.
Registry& registry()
{
    static Registry& instance = *new Registry;
    return instance;
}
}

ClassRecord const& ClassRegistry::adopt(ClassRecord record)
{
    Registry& r = registry();
    ++r.builds[record.name];
    ClassRecord const& stored = r.records.emplace_back(std::move(record));
    r.byName[stored.name] = &stored;
    return stored;
}

ClassRecord const* ClassRegistry::find(std::string_view name)
{
    Registry& r = registry();
    auto found = r.byName.find(name);
    return found == r.byName.end() ? nullptr : found->second;
}

int ClassRegistry::buildCount(std::string_view name)
{
    Registry& r = registry();
    auto found = r.builds.find(name);
    return found == r.builds.end() ? 0 : found->second;
}

bool ClassRecord::inheritsFrom(ClassRecord const& other) const
{
    for (ClassRecord const* record = this; record; record = record->superclass) {
        if (record == &other)
            return true;
    }
    return false;
}

MethodEntry const* ClassRecord::findMethod(std::string_view methodName) const
{
    for (ClassRecord const* record = this; record; record = record->superclass) {
        for (MethodEntry const& method : record->methods) {
            if (method.name == methodName)
                return &method;
        }
    }
    return nullptr;
}

PropertyEntry const* ClassRecord::findProperty(std::string_view propertyName) const
{
    for (ClassRecord const* record = this; record; record = record->superclass) {
        for (PropertyEntry const& property : record->properties) {
            if (property.name == propertyName)
                return &property;
        }
    }
    return nullptr;
}

EventHandlerEntry const* ClassRecord::findEventHandler(std::string_view event) const
{
    for (ClassRecord const* record = this; record; record = record->superclass) {
        for (EventHandlerEntry const& entry : record->eventHandlers) {
            if (entry.event == event)
                return &entry;
        }
    }
    return nullptr;
}

int ClassRecord::eventCount() const
{
    return static_cast<int>(events.size()) + (superclass ? superclass->eventCount() : 0);
}

int ClassRecord::eventIndex(std::string_view event) const
{
    int const inherited = superclass ? superclass->eventCount() : 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i] == event)
            return inherited + static_cast<int>(i) + 1;
    }
    return superclass ? superclass->eventIndex(event) : 0;
}

Object* ClassRecord::stamp(Object* object) const
{
    object->m_class = this;
    return object;
}

Ref<Object> RuntimeNewObject(ClassRecord const& record)
{
    if (!record.allocate)
        RaiseRuntimeException("objects of class " + record.name + " cannot be made");
    RuntimeRecord("RuntimeNewObject", { record.name });
    return Ref<Object>(record.stamp(record.allocate()));
}

Ref<Object> RuntimeCheckCast(Ref<Object> const& object, ClassRecord const& record)
{
    if (object && !object->isKindOf(record))
        Raise<IllegalCastException>("an object of class " + object->classRecord().name + " is not a " + record.name);
    return object;
}
