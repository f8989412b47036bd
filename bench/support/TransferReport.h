#pragma once

#include <QString>

#include <vector>

class TransferRounds;

// The benchmarks' table of transfers: throughput in MB/s (10^6 bytes per
// second), CPU seconds per GiB of the client and of the server, and the
// client beside curl doing the same transfer in the same run.
namespace TransferReport {

double median(std::vector<double> values);

// The machine's load, as /proc/loadavg gives it (1, 5 and 15 minutes).
QString loadAverage();

void printHeading(const char* transfer, qint64 bytes, int rounds);
// `curl` is null for curl's own row; `curlStartCpuSeconds` is what starting
// curl costs, for the ratio to curl's transfer alone.
void printRow(const TransferRounds& rounds, qint64 bytes, const TransferRounds* curl, double curlStartCpuSeconds);

} // namespace TransferReport
