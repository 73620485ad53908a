#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <type_traits>
#include <utility>

// Subscribes `receiver` to an observable field of `source`: `handler` gets the
// current value once, then every later change. Both deliveries are queued on
// the receiver's thread, so a handler never runs inside the setter that
// triggered it. The subscription ends with the receiver (or the source); a
// delivery already queued when the receiver dies is dropped.
//
//   observe(manager, &SpeechRecognitionManager::isListening,
//           &SpeechRecognitionManager::isListeningChanged, this,
//           [this](bool listening) { ... });
template <typename Source, typename Getter, typename Signal, typename Handler>
QMetaObject::Connection observe(
    Source *source, Getter getter, Signal changed, QObject *receiver, Handler handler)
{
    QPointer<Source> weakSource(source);
    QPointer<QObject> weakReceiver(receiver);
    auto deliver = [weakSource, weakReceiver, getter, handler]() mutable {
        if (!weakSource || !weakReceiver)
            return;
        handler(std::invoke(getter, weakSource.data()));
    };
    QMetaObject::invokeMethod(receiver, deliver, Qt::QueuedConnection);
    // A changed signal that carries the new value hands over the value of that
    // very change, so a quick false-then-true is seen as both; one without an
    // argument makes the handler read the field when the delivery runs.
    return QObject::connect(
        source, changed, receiver,
        [getter, handler, source](auto &&...args) mutable {
            if constexpr (sizeof...(args) == 1)
                (handler(std::forward<decltype(args)>(args)), ...);
            else
                handler(std::invoke(getter, source));
        },
        Qt::QueuedConnection);
}
