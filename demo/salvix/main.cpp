// The stand-in Salvix application: records how it was started and stays alive a while,
// so that Salvix Setup finds it in the process list.

#include "SalvixCore.h"

#include <unistd.h>

int main(int argc, char** argv)
{
    const bool recorded = salvixRecordLaunch(argc, argv);
    sleep(static_cast<unsigned>(salvixStaySeconds()));
    return recorded ? 0 : 1;
}
