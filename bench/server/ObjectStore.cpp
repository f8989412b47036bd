#include "ObjectStore.h"

#include <cstdio>

void ObjectStore::put(const std::string& key, int64_t size, uint64_t crc64)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_[key] = Object{size, crc64, std::time(nullptr)};
}

std::optional<ObjectStore::Object> ObjectStore::find(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(key);
    if (it == objects_.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::pair<std::string, ObjectStore::Object>> ObjectStore::list(const std::string& prefix,
                                                                           size_t limit) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<std::string, Object>> found;
    for (auto it = objects_.lower_bound(prefix);
         it != objects_.end() && it->first.compare(0, prefix.size(), prefix) == 0 && found.size() < limit; ++it)
        found.emplace_back(*it);
    return found;
}

std::string ObjectStore::initiate(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    char id[32];
    std::snprintf(id, sizeof id, "%024llX", nextUpload_++);
    uploads_[id].key = key;
    return id;
}

ObjectStore::PartCheck ObjectStore::beginPart(const std::string& uploadId, const std::string& key, int partNumber,
                                              uint64_t* crcBefore) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = uploads_.find(uploadId);
    if (it == uploads_.end() || it->second.key != key)
        return PartCheck::NoSuchUpload;
    if (partNumber != static_cast<int>(it->second.eTags.size()) + 1)
        return PartCheck::OutOfOrder;
    *crcBefore = it->second.crc64;
    return PartCheck::Accepted;
}

ObjectStore::PartCheck ObjectStore::addPart(const std::string& uploadId, int partNumber, int64_t size,
                                            uint64_t crcAfter, const std::string& eTag)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = uploads_.find(uploadId);
    if (it == uploads_.end())
        return PartCheck::NoSuchUpload;
    Upload& upload = it->second;
    // Another part of the same number may have come in meanwhile.
    if (partNumber != static_cast<int>(upload.eTags.size()) + 1)
        return PartCheck::OutOfOrder;
    upload.size += size;
    upload.crc64 = crcAfter;
    upload.eTags.push_back(eTag);
    return PartCheck::Accepted;
}

ObjectStore::Completion ObjectStore::complete(const std::string& uploadId, const std::string& key,
                                              const std::vector<std::pair<int, std::string>>& parts, Object* object)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = uploads_.find(uploadId);
    if (it == uploads_.end() || it->second.key != key)
        return Completion::NoSuchUpload;
    const Upload& upload = it->second;
    if (parts.size() != upload.eTags.size())
        return Completion::InvalidPart;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].first != static_cast<int>(i) + 1 || parts[i].second != upload.eTags[i])
            return Completion::InvalidPart;
    }
    *object = Object{upload.size, upload.crc64, std::time(nullptr)};
    objects_[key] = *object;
    uploads_.erase(it);
    return Completion::Completed;
}
