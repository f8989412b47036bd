// Unpacks an archive in a process of its own whose address space is limited, and prints
// 1 when the extraction reported success, else 0. An unpacker that allocates what an
// archive declares fails here, not in the test.
//   ExtractionHelper <limit in MiB> whole|selective <archive> <destination>
#include "ArchiveExtraction.h"
#include "UpgradeToolThread.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const rlim_t limit = rlim_t(std::strtoull(argv[1], nullptr, 10)) << 20;
    const rlimit addressSpace{limit, limit};
    if (setrlimit(RLIMIT_AS, &addressSpace) != 0)
        return 2;
    QString zip = QString::fromLocal8Bit(argv[3]);
    QString dest = QString::fromLocal8Bit(argv[4]);
    bool extracted = false;
    if (qstrcmp(argv[2], "whole") == 0) {
        extracted = extractZipToPath(zip, dest);
    } else {
        UpgradeToolThread worker;
        worker.unZipResourceFiles(zip, dest, true);
    }
    std::printf("%d\n", extracted ? 1 : 0);
    return 0;
}
