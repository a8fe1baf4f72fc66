#pragma once

#include "runtime/ClassRecord.h"

#include <functional>
#include <span>

// A callable that the framework runs later: a plain function, or a method
// with its receiver. The signature text names the argument types, as in
// "( Canvas, Graphics )".
class Delegate : public RuntimeClass<Delegate> {
public:
    static ClassRecord buildRecord();

    // Reach the receiver through an indirection that does not keep it alive;
    // once the receiver is gone the delegate raises NilObjectException
    // instead of calling.
    static constexpr int WeakReceiver = 1;

    using Invoker = std::function<Value(Object* receiver, std::span<Value const> arguments)>;

    static Ref<Delegate> make(Invoker invoker, void (*entry)(), Ref<Object> const& receiver, String signature, int flags);

    Value Invoke(std::span<Value const> arguments) const;
    template <class... Values>
    Value operator()(Values&&... values) const
    {
        Value const arguments[] = { Value(std::forward<Values>(values))..., Value() };
        return Invoke(std::span<Value const>(arguments, sizeof...(Values)));
    }

    // The target's plain function entry, for a delegate made of a function.
    void (*FunctionEntry() const)() { return m_entry; }
    String const& Signature() const { return m_signature; }
    int Flags() const { return m_flags; }

private:
    Invoker m_invoker;
    void (*m_entry)() = nullptr;
    Ref<Object> m_receiver;
    WeakRef<Object> m_weakReceiver;
    String m_signature;
    int m_flags = 0;
};

namespace detail {
template <class R, class Call>
Value boxedResult(Call&& call)
{
    if constexpr (std::is_void_v<R>) {
        call();
        return {};
    } else {
        return ValueTraits<Bare<R>>::box(call());
    }
}

template <class... Args, class Call, std::size_t... I>
decltype(auto) callWithValues(std::span<Value const> arguments, Call&& call, std::index_sequence<I...>)
{
    if (arguments.size() != sizeof...(Args))
        RaiseRuntimeException("wrong number of arguments for " + std::to_string(sizeof...(Args)) + " parameters");
    return call(ValueTraits<Bare<Args>>::unbox(arguments[I])...);
}
}

// A delegate of a plain function, with no receiver.
template <class R, class... Args>
Ref<Delegate> RuntimeCreateDelegate(R (*function)(Args...), String signature, int flags = 0)
{
    Delegate::Invoker invoker = [function](Object*, std::span<Value const> arguments) {
        return detail::boxedResult<R>([&] {
            return detail::callWithValues<Args...>(arguments, function, std::index_sequence_for<Args...> {});
        });
    };
    return Delegate::make(std::move(invoker), reinterpret_cast<void (*)()>(function), nullptr, std::move(signature), flags);
}

// A delegate of a method with its receiver.
template <class T, class R, class... Args>
Ref<Delegate> RuntimeCreateDelegate(R (T::*method)(Args...), Ref<T> const& receiver, String signature, int flags)
{
    Delegate::Invoker invoker = [method](Object* object, std::span<Value const> arguments) {
        T& target = *static_cast<T*>(object);
        return detail::boxedResult<R>([&] {
            return detail::callWithValues<Args...>(arguments, [&](auto&&... values) { return (target.*method)(std::forward<decltype(values)>(values)...); },
                std::index_sequence_for<Args...> {});
        });
    };
    return Delegate::make(std::move(invoker), nullptr, receiver, std::move(signature), flags);
}
