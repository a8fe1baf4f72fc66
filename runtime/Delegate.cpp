#include "runtime/Delegate.h"

#include "runtime/Exceptions.h"

ClassRecord Delegate::buildRecord()
{
    return ClassRecordBuilder<Delegate>("Delegate").build();
}

Ref<Delegate> Delegate::make(Invoker invoker, void (*entry)(), Ref<Object> const& receiver, String signature, int flags)
{
    Ref<Delegate> delegate = RuntimeNewObject<Delegate>();
    delegate->m_invoker = std::move(invoker);
    delegate->m_entry = entry;
    if (flags & WeakReceiver)
        delegate->m_weakReceiver = WeakRef<Object>(receiver);
    else
        delegate->m_receiver = receiver;
    delegate->m_signature = std::move(signature);
    delegate->m_flags = flags;
    return delegate;
}

Value Delegate::Invoke(std::span<Value const> arguments) const
{
    if (m_flags & WeakReceiver) {
        Ref<Object> const receiver = m_weakReceiver.lock();
        if (!receiver)
            RaiseNilObjectException();
        return m_invoker(receiver.get(), arguments);
    }
    return m_invoker(m_receiver.get(), arguments);
}
