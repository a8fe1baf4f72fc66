#pragma once

#include "runtime/Object.h"
#include "runtime/Recorder.h"
#include "runtime/Value.h"

#include <functional>
#include <span>
#include <string_view>
#include <vector>

struct Attribute {
    String name;
    String value; // empty for an attribute that carries no value, such as "Hidden"
    bool operator==(Attribute const&) const = default;
};

// Every member of the program's classes carries this one.
inline Attribute const PublicScope { "__Scope", "Public" };

struct MethodEntry {
    String name;
    String signature; // "%result%arguments", e.g. "%%" or "%o<Canvas>%"
    std::vector<Attribute> attributes;
    std::function<Value(Object&, std::span<Value const>)> invoke;
};

struct PropertyEntry {
    String name;
    String type; // e.g. "o<Picture>"
    std::vector<Attribute> attributes;
    std::function<Value(Object const&)> get;
    std::function<void(Object&, Value const&)> set;
};

// A class's handler of an event that its superclass defines, e.g. a window
// class handling "Layout".
struct EventHandlerEntry {
    String event;
    std::function<void(Object&)> handler;
};

// What the runtime knows of one class: its registered name, its superclass,
// its own methods in slot order, its stored properties, its class attributes,
// its handlers of superclass events and its finaliser.
class ClassRecord {
public:
    String name;
    ClassRecord const* superclass = nullptr;
    std::vector<MethodEntry> methods;
    std::vector<PropertyEntry> properties;
    std::vector<Attribute> attributes;
    std::vector<EventHandlerEntry> eventHandlers;
    // The events the class defines, after those it inherits.
    std::vector<String> events;
    // Runs when the last reference to an object of the class goes, before the
    // finalisers of the superclasses.
    std::function<void(Object&)> finaliser;
    // Allocates an object with the framework's own set-up done and no
    // constructor of the program's run. Empty for classes that cannot be made.
    std::function<Object*()> allocate;

    bool inheritsFrom(ClassRecord const& other) const;
    MethodEntry const* findMethod(std::string_view methodName) const;
    PropertyEntry const* findProperty(std::string_view propertyName) const;
    // The class's own handler of the event, or the nearest superclass's.
    EventHandlerEntry const* findEventHandler(std::string_view event) const;
    // An event's place in the class's event table, counted from 1 over the
    // inherited events first; 0 when the class has no such event.
    int eventIndex(std::string_view event) const;
    int eventCount() const;

    // Gives a freshly allocated object its record; RuntimeNewObject's last step.
    Object* stamp(Object* object) const;
};

// Class records by registered name. Records are built once and live for the
// whole run; the registry counts builds so that a second build shows.
namespace ClassRegistry {
ClassRecord const& adopt(ClassRecord record);
ClassRecord const* find(std::string_view name);
int buildCount(std::string_view name);
}

// Builds T's record the first time it is asked for; later calls return it.
template <class T>
ClassRecord const& classRecordOf()
{
    static ClassRecord const* record = &ClassRegistry::adopt(T::buildRecord());
    return *record;
}

// The base of every runtime class: gives it its look-up (the record, built on
// first use) and its builder entry, which returns at once once built.
template <class Self, class Base = Object>
class RuntimeClass : public Base {
public:
    using Base::Base;
    static ClassRecord const& Lookup_() { return classRecordOf<Self>(); }
    static void ctblinit_() { RuntimeRecord("ctblinit", { classRecordOf<Self>().name }); }
};

// A new object of the record's class, holding one reference for the caller.
// No constructor of the program's runs.
Ref<Object> RuntimeNewObject(ClassRecord const& record);

template <class T>
Ref<T> RuntimeNewObject()
{
    Ref<Object> object = RuntimeNewObject(T::Lookup_());
    return Ref<T>(static_cast<T*>(object.get()));
}

// The object as the record's class. Nil stays Nil; an object of another class
// raises IllegalCastException.
Ref<Object> RuntimeCheckCast(Ref<Object> const& object, ClassRecord const& record);

template <class T>
Ref<T> RuntimeCheckCast(Ref<Object> const& object)
{
    Ref<Object> checked = RuntimeCheckCast(object, T::Lookup_());
    return Ref<T>(static_cast<T*>(checked.get()));
}

// Raises a plain RuntimeException; defined with the exception classes.
[[noreturn]] void RaiseRuntimeException(String message);

namespace detail {
template <class T>
struct ValueTraits {
    static Value box(T const& value) { return Value(value); }
    static T unbox(Value const& value)
    {
        if (auto const* held = std::get_if<T>(&value))
            return *held;
        RaiseRuntimeException("a value of the wrong type was passed");
    }
};
template <class T>
struct ValueTraits<Ref<T>> {
    static Value box(Ref<T> const& value) { return Value(Ref<Object>(value)); }
    static Ref<T> unbox(Value const& value)
    {
        auto const* object = std::get_if<Ref<Object>>(&value);
        if (!object || object->isNil())
            return nullptr;
        return RuntimeCheckCast<T>(*object);
    }
};
template <class T>
using Bare = std::remove_cvref_t<T>;
}

// Fills a record step by step, with call adapters made from member pointers.
template <class T>
class ClassRecordBuilder {
public:
    explicit ClassRecordBuilder(String name, ClassRecord const* superclass = nullptr)
    {
        m_record.name = std::move(name);
        m_record.superclass = superclass;
        if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
            m_record.allocate = [] { return static_cast<Object*>(new T); };
    }

    template <class R, class... Args>
    ClassRecordBuilder& method(String name, String signature, std::vector<Attribute> attributes, R (T::*member)(Args...))
    {
        m_record.methods.push_back({ std::move(name), std::move(signature), std::move(attributes),
            [member](Object& receiver, std::span<Value const> arguments) -> Value {
                return call(static_cast<T&>(receiver), member, arguments, std::index_sequence_for<Args...> {});
            } });
        return *this;
    }

    template <class P, class C>
        requires std::is_base_of_v<C, T>
    ClassRecordBuilder& property(String name, String type, std::vector<Attribute> attributes, P C::*field)
    {
        m_record.properties.push_back({ std::move(name), std::move(type), std::move(attributes),
            [field](Object const& object) { return detail::ValueTraits<P>::box(static_cast<T const&>(object).*field); },
            [field](Object& object, Value const& value) { static_cast<T&>(object).*field = detail::ValueTraits<P>::unbox(value); } });
        return *this;
    }

    // A stored property whose change the object applies at once, e.g. to the
    // widget that shows it.
    template <class P, class C, class D>
        requires std::is_base_of_v<C, T> && std::is_base_of_v<D, T>
    ClassRecordBuilder& property(String name, String type, std::vector<Attribute> attributes, P C::*field, void (D::*changed)())
    {
        m_record.properties.push_back({ std::move(name), std::move(type), std::move(attributes),
            [field](Object const& object) { return detail::ValueTraits<P>::box(static_cast<T const&>(object).*field); },
            [field, changed](Object& object, Value const& value) {
                T& target = static_cast<T&>(object);
                target.*field = detail::ValueTraits<P>::unbox(value);
                (target.*changed)();
            } });
        return *this;
    }

    ClassRecordBuilder& attribute(Attribute classAttribute)
    {
        m_record.attributes.push_back(std::move(classAttribute));
        return *this;
    }

    ClassRecordBuilder& events(std::vector<String> names)
    {
        m_record.events = std::move(names);
        return *this;
    }

    ClassRecordBuilder& handles(String event, void (T::*handler)())
    {
        m_record.eventHandlers.push_back({ std::move(event), [handler](Object& object) { (static_cast<T&>(object).*handler)(); } });
        return *this;
    }

    ClassRecordBuilder& finaliser(void (T::*exit)())
    {
        m_record.finaliser = [exit](Object& object) { (static_cast<T&>(object).*exit)(); };
        return *this;
    }

    ClassRecord build() { return std::move(m_record); }

private:
    template <class R, class... Args, std::size_t... I>
    static Value call(T& receiver, R (T::*member)(Args...), std::span<Value const> arguments, std::index_sequence<I...>)
    {
        if (arguments.size() != sizeof...(Args))
            RaiseRuntimeException("wrong number of arguments for " + std::to_string(sizeof...(Args)) + " parameters");
        if constexpr (std::is_void_v<R>) {
            (receiver.*member)(detail::ValueTraits<detail::Bare<Args>>::unbox(arguments[I])...);
            return {};
        } else {
            return detail::ValueTraits<detail::Bare<R>>::box((receiver.*member)(detail::ValueTraits<detail::Bare<Args>>::unbox(arguments[I])...));
        }
    }

    ClassRecord m_record;
};
