#include "TransferReport.h"

#include "TransferRounds.h"

#include <QFile>

#include <algorithm>
#include <cstdio>

namespace TransferReport {

namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readLine()).section(' ', 0, 2);
}

void printHeading(const char* transfer, qint64 bytes, int rounds)
{
    std::printf("\n%s, %lld MiB, median of %d rounds\n", transfer, static_cast<long long>(bytes >> 20), rounds);
    std::printf("  %-28s %8s %10s %9s %15s %11s %17s\n", "", "MB/s", "CPU s/GiB", "CPU/curl", "CPU/curl-start",
                "speed/curl", "server CPU s/GiB");
}

void printRow(const TransferRounds& rounds, qint64 bytes, const TransferRounds* curl, double curlStartCpuSeconds)
{
    const double gib = bytes / kGiB;
    std::printf("  %-28s %8.1f %10.3f", rounds.name(), bytes / 1e6 / rounds.seconds(), rounds.cpuSeconds() / gib);
    if (curl)
        std::printf(" %9.2f %15.2f %11.2f", rounds.cpuSeconds() / curl->cpuSeconds(),
                    rounds.cpuSeconds() / (curl->cpuSeconds() - curlStartCpuSeconds),
                    curl->seconds() / rounds.seconds());
    else
        std::printf(" %9s %15s %11s", "", "", "");
    std::printf(" %17.3f\n", rounds.serverCpuSeconds() / gib);
}

} // namespace TransferReport
