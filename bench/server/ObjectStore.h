#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What the benchmark server remembers: each object's size and CRC-64, never
// its bytes, and the multipart uploads under way. The only content it can
// send back is its content file, so a download is answered for an object
// stored with exactly that content.
class ObjectStore
{
public:
    struct Object
    {
        int64_t size = 0;
        uint64_t crc64 = 0;
        std::time_t stored = 0;
    };

    struct ContentFile
    {
        int descriptor = -1;
        int64_t size = 0;
        uint64_t crc64 = 0;
    };

    explicit ObjectStore(const ContentFile& content)
        : content_(content)
    {
    }

    const ContentFile& content() const { return content_; }
    bool holdsContent(const Object& object) const
    {
        return object.size == content_.size && object.crc64 == content_.crc64;
    }

    void put(const std::string& key, int64_t size, uint64_t crc64);
    std::optional<Object> find(const std::string& key) const;
    // The objects whose keys begin with the prefix, in key order.
    std::vector<std::pair<std::string, Object>> list(const std::string& prefix, size_t limit) const;

    std::string initiate(const std::string& key);

    // Parts arrive one by one and in order, as the benchmarks send them, so
    // the CRC-64 of the whole object runs along: `begin` gives it as it stood
    // before this part, `addPart` takes the part's bytes into account.
    enum class PartCheck { Accepted, NoSuchUpload, OutOfOrder };
    PartCheck beginPart(const std::string& uploadId, const std::string& key, int partNumber, uint64_t* crcBefore) const;
    PartCheck addPart(const std::string& uploadId, int partNumber, int64_t size, uint64_t crcAfter,
                      const std::string& eTag);

    // The object made of the listed parts; false when they are not exactly
    // the parts received, in order, with their ETags.
    enum class Completion { Completed, NoSuchUpload, InvalidPart };
    Completion complete(const std::string& uploadId, const std::string& key,
                        const std::vector<std::pair<int, std::string>>& parts, Object* object);

private:
    struct Upload
    {
        std::string key;
        int64_t size = 0;
        uint64_t crc64 = 0;
        std::vector<std::string> eTags;
    };

    ContentFile content_;
    mutable std::mutex mutex_;
    std::map<std::string, Object> objects_;
    std::map<std::string, Upload> uploads_;
    unsigned long long nextUpload_ = 1;
};
