#include "RecordPass.h"

namespace Nimbrel {

RecordPass::RecordPass()
    : bytes(new unsigned char[capacity])
{
}

void RecordPass::add(qint64 recordLength, int sourceBytes)
{
    length += recordLength;
    outputLengths[count] = static_cast<int>(recordLength);
    consumed[count++] = sourceBytes;
}

void RecordPass::clear()
{
    length = 0;
    count = 0;
}

} // namespace Nimbrel
