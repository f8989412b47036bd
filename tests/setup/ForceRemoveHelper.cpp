// Removes the folder named by its argument with forceRemoveDir and prints the user id it
// ran as. The removal tests start it as an unprivileged user, for whom permissions count.
#include "ArchiveExtraction.h"

#include <QString>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    forceRemoveDir(QString::fromLocal8Bit(argv[1]));
    std::printf("%u\n", static_cast<unsigned>(geteuid()));
    return 0;
}
