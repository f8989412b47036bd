#pragma once

#include <string>
#include <vector>

namespace AlibabaCloud {
namespace OSS {

// A part of a multipart upload as CompleteMultipartUpload lists it.
class Part
{
public:
    Part() = default;
    Part(int partNumber, const std::string& eTag)
        : partNumber_(partNumber)
        , eTag_(eTag)
    {
    }

    int PartNumber() const { return partNumber_; }
    const std::string& ETag() const { return eTag_; }

private:
    int partNumber_ = 0;
    std::string eTag_;
};

using PartList = std::vector<Part>;

} // namespace OSS
} // namespace AlibabaCloud
