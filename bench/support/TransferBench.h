#pragma once

#include "TransferFixture.h"

#include <QString>

#include <functional>
#include <string>

class QCoreApplication;

// The storage benchmarks' common run: the options, the fixture, and rounds
// of three transfers (upload whole, download, upload in parts) by one client
// and by curl, checked for their content and reported side by side.
class TransferBench
{
public:
    struct Client
    {
        const char* downloadName;
        const char* uploadName;
        const char* partsName;
        std::function<bool(const std::string& key)> uploadWhole;
        std::function<bool(const std::string& key, const QString& target)> download;
        std::function<bool(const std::string& key)> uploadInParts;
    };

    // Reads the options --size-mib and --rounds and prints the machine's load.
    explicit TransferBench(const QCoreApplication& app);

    int rounds() const { return rounds_; }
    // False, with the reason on the standard error stream, when the fixture
    // could not be set up.
    bool setUp();
    TransferFixture& fixture() { return fixture_; }
    // The rounds and their table; the process's exit status.
    int run(const Client& client);

private:
    qint64 size_ = 0;
    int rounds_ = 0;
    TransferFixture fixture_;
};
