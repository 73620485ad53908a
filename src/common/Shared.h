#pragma once

#include <QtGlobal>

#include <concepts>

// The process-wide instance of a component. The dictation chain is made and
// installed by the composition root (tests install theirs, wired to fakes);
// a few desktop services still make themselves on first use through
// `T::createShared()`.
template <typename T> class Shared
{
public:
    static T &get()
    {
        T *&instance = slot();
        if constexpr (requires { T::createShared(); }) {
            if (!instance)
                instance = T::createShared();
        }
        Q_ASSERT_X(instance, "Shared", "asked for before the composition root made it");
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
