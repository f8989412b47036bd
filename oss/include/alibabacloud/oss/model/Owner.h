#pragma once

#include <string>

namespace AlibabaCloud {
namespace OSS {

class Owner
{
public:
    Owner() = default;
    Owner(const std::string& id, const std::string& displayName)
        : id_(id)
        , displayName_(displayName)
    {
    }

    const std::string& Id() const { return id_; }
    const std::string& DisplayName() const { return displayName_; }

private:
    std::string id_;
    std::string displayName_;
};

} // namespace OSS
} // namespace AlibabaCloud
