#include "status/Metrics.h"

#include <sstream>

namespace quelvar::status {

namespace {

// The usual latency ladder, in seconds; the buckets below the check time-out are taken from it.
constexpr double kLadder[] = {0.005, 0.01, 0.025, 0.05, 0.1,  0.25, 0.5,   1.0,   2.5,
                              5.0,   10.0, 15.0,  20.0, 30.0, 60.0, 120.0, 300.0, 600.0};

}  // namespace

Metrics::Metrics(std::chrono::milliseconds checkTimeout) {
    const double timeout = std::chrono::duration<double>(checkTimeout).count();
    for (const double bound : kLadder) {
        if (bound < timeout) {
            m_buckets.push_back(bound);
        }
    }
    m_buckets.push_back(timeout);
    m_buckets.push_back(timeout * 1.25);
    m_bucketCounts.assign(m_buckets.size(), 0);
}

void Metrics::recordCheck(const std::string& code, std::chrono::microseconds duration) {
    const double seconds = std::chrono::duration<double>(duration).count();
    std::lock_guard lock(m_mutex);
    ++m_checksByCode[code];
    for (std::size_t i = 0; i < m_buckets.size(); ++i) {
        if (seconds <= m_buckets[i]) {
            ++m_bucketCounts[i];
        }
    }
    ++m_latencyCount;
    m_latencySum += seconds;
}

void Metrics::recordAbandoned() {
    std::lock_guard lock(m_mutex);
    ++m_abandoned;
}

void Metrics::recordRejection(int httpStatus) {
    std::lock_guard lock(m_mutex);
    ++m_rejections[httpStatus];
}

void Metrics::recordConnectionRefused(const std::string& reason) {
    std::lock_guard lock(m_mutex);
    ++m_connectionsRefused[reason];
}

void Metrics::recordConnectionDropped(const std::string& reason) {
    std::lock_guard lock(m_mutex);
    ++m_connectionsDropped[reason];
}

void Metrics::recordClientError(const std::string& kind) {
    std::lock_guard lock(m_mutex);
    ++m_clientErrors[kind];
}

std::string Metrics::render() const {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    std::lock_guard lock(m_mutex);
    // Labels are the service's own fixed names and numbers, so they need no escaping.
    out << "# HELP quelvar_status_checks_total Checks finished, by failure code.\n"
        << "# TYPE quelvar_status_checks_total counter\n";
    for (const auto& [code, count] : m_checksByCode) {
        out << "quelvar_status_checks_total{code=\"" << code << "\"} " << count << '\n';
    }
    out << "# HELP quelvar_status_checks_abandoned_total Checks cancelled because their client "
           "closed or reset its connection.\n"
        << "# TYPE quelvar_status_checks_abandoned_total counter\n"
        << "quelvar_status_checks_abandoned_total " << m_abandoned << '\n';
    out << "# HELP quelvar_status_checks_in_flight Checks running now.\n"
        << "# TYPE quelvar_status_checks_in_flight gauge\n"
        << "quelvar_status_checks_in_flight " << m_inFlight.load() << '\n';
    out << "# HELP quelvar_status_requests_rejected_total Requests refused, by HTTP status, "
           "including those the HTTP layer refuses itself.\n"
        << "# TYPE quelvar_status_requests_rejected_total counter\n";
    for (const auto& [status, count] : m_rejections) {
        out << "quelvar_status_requests_rejected_total{status=\"" << status << "\"} " << count
            << '\n';
    }
    out << "# HELP quelvar_status_connections_open Client connections open now.\n"
        << "# TYPE quelvar_status_connections_open gauge\n"
        << "quelvar_status_connections_open " << m_openConnections.load() << '\n';
    out << "# HELP quelvar_status_connections_refused_total Connections refused at accept, by "
           "the limit reached.\n"
        << "# TYPE quelvar_status_connections_refused_total counter\n";
    for (const auto& [reason, count] : m_connectionsRefused) {
        out << "quelvar_status_connections_refused_total{limit=\"" << reason << "\"} " << count
            << '\n';
    }
    out << "# HELP quelvar_status_connections_dropped_total Connections closed by the service: "
           "their request came too slowly, or their slot went to a new connection.\n"
        << "# TYPE quelvar_status_connections_dropped_total counter\n";
    for (const auto& [reason, count] : m_connectionsDropped) {
        out << "quelvar_status_connections_dropped_total{reason=\"" << reason << "\"} " << count
            << '\n';
    }
    out << "# HELP quelvar_status_client_errors_total What the HTTP layer reported about one "
           "client's connection, by kind.\n"
        << "# TYPE quelvar_status_client_errors_total counter\n";
    for (const auto& [kind, count] : m_clientErrors) {
        out << "quelvar_status_client_errors_total{kind=\"" << kind << "\"} " << count << '\n';
    }
    out << "# HELP quelvar_status_check_duration_seconds Duration of finished checks.\n"
        << "# TYPE quelvar_status_check_duration_seconds histogram\n";
    for (std::size_t i = 0; i < m_buckets.size(); ++i) {
        out << "quelvar_status_check_duration_seconds_bucket{le=\"" << m_buckets[i] << "\"} "
            << m_bucketCounts[i] << '\n';
    }
    out << "quelvar_status_check_duration_seconds_bucket{le=\"+Inf\"} " << m_latencyCount << '\n'
        << "quelvar_status_check_duration_seconds_sum " << m_latencySum << '\n'
        << "quelvar_status_check_duration_seconds_count " << m_latencyCount << '\n';
    return out.str();
}

}  // namespace quelvar::status
