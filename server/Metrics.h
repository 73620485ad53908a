#pragma once

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <QString>

#include <array>
#include <functional>
#include <mutex>
#include <vector>

// What operators watch, served as Prometheus text. Every part of the server
// counts through the process-wide instance; the counting calls are cheap and
// may come from any thread.
class Metrics
{
public:
    static Metrics &global();

    void countRequest(const QByteArray &route, int status);
    void observeDecodeSeconds(double seconds);
    void observeUpstreamSeconds(double seconds);
    void countSignInFailure();
    void countLockout();
    // A value read when the metrics are served, such as the uploads in flight.
    void setGauge(const QByteArray &name, const QByteArray &help, std::function<double()> read);

    QByteArray render() const;

private:
    static constexpr std::array<double, 11> bucketBounds { 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120 };
    struct Histogram {
        std::array<quint64, bucketBounds.size()> buckets {};
        quint64 count = 0;
        double sum = 0;
        void observe(double value);
        void render(QByteArray &out, const QByteArray &name, const QByteArray &help) const;
    };
    struct Gauge {
        QByteArray name;
        QByteArray help;
        std::function<double()> read;
    };

    mutable std::mutex m_mutex;
    QMap<QPair<QByteArray, int>, quint64> m_requests;
    Histogram m_decode;
    Histogram m_upstream;
    quint64 m_signInFailures = 0;
    quint64 m_lockouts = 0;
    std::vector<Gauge> m_gauges;
};
