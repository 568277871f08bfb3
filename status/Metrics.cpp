#include "status/Metrics.h"

#include <sstream>

namespace quelvar::status {

void Metrics::recordCheck(const std::string& code, std::chrono::milliseconds duration) {
    const double seconds = std::chrono::duration<double>(duration).count();
    std::lock_guard lock(m_mutex);
    ++m_checksByCode[code];
    for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i) {
        if (seconds <= kLatencyBuckets[i]) {
            ++m_bucketCounts[i];
        }
    }
    ++m_latencyCount;
    m_latencySum += seconds;
}

void Metrics::recordRejection(int httpStatus) {
    std::lock_guard lock(m_mutex);
    ++m_rejections[httpStatus];
}

std::string Metrics::render() const {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    std::lock_guard lock(m_mutex);
    out << "# HELP quelvar_status_checks_total Checks finished, by failure code.\n"
        << "# TYPE quelvar_status_checks_total counter\n";
    for (const auto& [code, count] : m_checksByCode) {
        // Codes are the service's own fixed names, so they need no label escaping.
        out << "quelvar_status_checks_total{code=\"" << code << "\"} " << count << '\n';
    }
    out << "# HELP quelvar_status_checks_in_flight Checks running now.\n"
        << "# TYPE quelvar_status_checks_in_flight gauge\n"
        << "quelvar_status_checks_in_flight " << m_inFlight.load() << '\n';
    out << "# HELP quelvar_status_requests_rejected_total Requests refused, by HTTP status.\n"
        << "# TYPE quelvar_status_requests_rejected_total counter\n";
    for (const auto& [status, count] : m_rejections) {
        out << "quelvar_status_requests_rejected_total{status=\"" << status << "\"} " << count
            << '\n';
    }
    out << "# HELP quelvar_status_check_duration_seconds Duration of finished checks.\n"
        << "# TYPE quelvar_status_check_duration_seconds histogram\n";
    for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i) {
        out << "quelvar_status_check_duration_seconds_bucket{le=\"" << kLatencyBuckets[i] << "\"} "
            << m_bucketCounts[i] << '\n';
    }
    out << "quelvar_status_check_duration_seconds_bucket{le=\"+Inf\"} " << m_latencyCount << '\n'
        << "quelvar_status_check_duration_seconds_sum " << m_latencySum << '\n'
        << "quelvar_status_check_duration_seconds_count " << m_latencyCount << '\n';
    return out.str();
}

}  // namespace quelvar::status
