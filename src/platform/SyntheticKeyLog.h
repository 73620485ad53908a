#pragma once

#include <QMutex>

#include <deque>

// Keys that Tellwind itself synthesizes reach every input monitor exactly as a
// user's keys do (XTest events look like any other client's). The typing
// backend records each event it sends; the key monitor takes matching events
// off the log and ignores them, so only the user's own keys count.
class SyntheticKeyLog
{
public:
    // Called by the typing backend for every key event, just before sending it.
    void recordSent(unsigned keycode, bool press);
    // True, and the entry removed, when this event is one we sent.
    bool takeIfSent(unsigned keycode, bool press);

private:
    struct Entry {
        unsigned keycode;
        bool press;
        qint64 sentAtMs;
    };
    QMutex m_mutex;
    std::deque<Entry> m_entries;
};
