#pragma once

#include "alibabacloud/oss/model/Owner.h"

#include <cstdint>
#include <string>
#include <vector>

namespace AlibabaCloud {
namespace OSS {

// One Contents entry of a listing.
class ObjectSummary
{
public:
    ObjectSummary() = default;

    const std::string& Key() const { return key_; }
    // Quoted, as the service sends it.
    const std::string& ETag() const { return eTag_; }
    int64_t Size() const { return size_; }
    // ISO 8601 text as listed, e.g. 2025-05-28T08:00:00.000Z.
    const std::string& LastModified() const { return lastModified_; }
    const std::string& StorageClass() const { return storageClass_; }
    const std::string& Type() const { return type_; }
    const AlibabaCloud::OSS::Owner& Owner() const { return owner_; }

    void setKey(const std::string& key) { key_ = key; }
    void setETag(const std::string& eTag) { eTag_ = eTag; }
    void setSize(int64_t size) { size_ = size; }
    void setLastModified(const std::string& lastModified) { lastModified_ = lastModified; }
    void setStorageClass(const std::string& storageClass) { storageClass_ = storageClass; }
    void setType(const std::string& type) { type_ = type; }
    void setOwner(const AlibabaCloud::OSS::Owner& owner) { owner_ = owner; }

private:
    std::string key_;
    std::string eTag_;
    int64_t size_ = 0;
    std::string lastModified_;
    std::string storageClass_;
    std::string type_;
    AlibabaCloud::OSS::Owner owner_;
};

using ObjectSummaryList = std::vector<ObjectSummary>;

} // namespace OSS
} // namespace AlibabaCloud
