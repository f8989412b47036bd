#pragma once

#include <utility>

namespace AlibabaCloud {
namespace OSS {

// Either a result (success) or an error; result() is meaningful only on success.
template <typename E, typename R>
class Outcome
{
public:
    Outcome() = default;
    explicit Outcome(E error)
        : error_(std::move(error))
        , success_(false)
    {
    }
    explicit Outcome(R result)
        : result_(std::move(result))
        , success_(true)
    {
    }

    bool isSuccess() const { return success_; }
    const E& error() const { return error_; }
    E& error() { return error_; }
    const R& result() const { return result_; }
    R& result() { return result_; }

private:
    E error_;
    R result_;
    bool success_ = true;
};

} // namespace OSS
} // namespace AlibabaCloud
