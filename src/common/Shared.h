#pragma once

// The process-wide instance of a component: created on first use by
// `T::createShared()` (which wires the real platform backends) and kept until
// the process ends. Tests install their own instance, wired to fakes, before
// anything asks for it.
template <typename T>
class Shared
{
public:
    static T &get()
    {
        T *&instance = slot();
        if (!instance)
            instance = T::createShared();
        return *instance;
    }

    static void install(T *instance) { slot() = instance; }

private:
    static T *&slot()
    {
        static T *instance = nullptr;
        return instance;
    }
};
