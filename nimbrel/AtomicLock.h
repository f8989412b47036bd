#pragma once

#include <QAtomicInteger>

namespace Nimbrel {

// One value written on one thread and read on another; orders nothing else.
template <typename T>
class AtomicLock
{
public:
    explicit AtomicLock(T value) : atomicValue(value) {}

    void store(T value) { atomicValue.storeRelaxed(value); }
    T load() const { return atomicValue.loadRelaxed(); }

private:
    QAtomicInteger<T> atomicValue;
};

}
