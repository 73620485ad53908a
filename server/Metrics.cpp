#include "Metrics.h"

namespace
{

QByteArray number(double value)
{
    return QByteArray::number(value, 'g', 12);
}

QByteArray labelValue(const QByteArray &text)
{
    QByteArray escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

void header(QByteArray &out, const QByteArray &name, const QByteArray &help, const char *type)
{
    out += "# HELP " + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

} // namespace

Metrics &Metrics::global()
{
    static Metrics metrics;
    return metrics;
}

void Metrics::countRequest(const QByteArray &route, int status)
{
    const std::lock_guard lock(m_mutex);
    ++m_requests[{ route, status }];
}

void Metrics::observeDecodeSeconds(double seconds)
{
    const std::lock_guard lock(m_mutex);
    m_decode.observe(seconds);
}

void Metrics::observeUpstreamSeconds(double seconds)
{
    const std::lock_guard lock(m_mutex);
    m_upstream.observe(seconds);
}

void Metrics::countSignInFailure()
{
    const std::lock_guard lock(m_mutex);
    ++m_signInFailures;
}

void Metrics::countLockout()
{
    const std::lock_guard lock(m_mutex);
    ++m_lockouts;
}

void Metrics::setGauge(const QByteArray &name, const QByteArray &help, std::function<double()> read)
{
    const std::lock_guard lock(m_mutex);
    for (Gauge &gauge : m_gauges) {
        if (gauge.name == name) {
            gauge = { name, help, std::move(read) };
            return;
        }
    }
    m_gauges.push_back({ name, help, std::move(read) });
}

void Metrics::Histogram::observe(double value)
{
    for (size_t i = 0; i < bucketBounds.size(); ++i) {
        if (value <= bucketBounds[i])
            ++buckets[i];
    }
    ++count;
    sum += value;
}

void Metrics::Histogram::render(QByteArray &out, const QByteArray &name, const QByteArray &help) const
{
    header(out, name, help, "histogram");
    for (size_t i = 0; i < bucketBounds.size(); ++i)
        out += name + "_bucket{le=\"" + number(bucketBounds[i]) + "\"} " + QByteArray::number(buckets[i])
            + '\n';
    out += name + "_bucket{le=\"+Inf\"} " + QByteArray::number(count) + '\n';
    out += name + "_sum " + number(sum) + '\n';
    out += name + "_count " + QByteArray::number(count) + '\n';
}

QByteArray Metrics::render() const
{
    const std::lock_guard lock(m_mutex);
    QByteArray out;
    header(out, "tellwind_http_requests_total", "Requests answered, by route and status.", "counter");
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it) {
        out += "tellwind_http_requests_total{route=\"" + labelValue(it.key().first) + "\",status=\""
            + QByteArray::number(it.key().second) + "\"} " + QByteArray::number(it.value()) + '\n';
    }
    m_decode.render(out, "tellwind_decode_seconds", "Time spent decoding one speech upload.");
    m_upstream.render(
        out, "tellwind_upstream_seconds", "Time an upstream speech service took for one upload.");
    header(
        out, "tellwind_signin_failures_total", "Sign-in attempts refused for wrong credentials.", "counter");
    out += "tellwind_signin_failures_total " + QByteArray::number(m_signInFailures) + '\n';
    header(out, "tellwind_signin_lockouts_total", "Sign-in attempts refused because of too many failures.",
        "counter");
    out += "tellwind_signin_lockouts_total " + QByteArray::number(m_lockouts) + '\n';
    for (const Gauge &gauge : m_gauges) {
        header(out, gauge.name, gauge.help, "gauge");
        out += gauge.name + ' ' + number(gauge.read()) + '\n';
    }
    return out;
}
